#include "kvn_label.h"

#include "qlm_complex_text.h"
#include "qlm_font.h"
#include "qlm_renderer.h"

// ---------------------------------------------------------------------------
// TLabelScene

TLabelScene::TLabelScene() : mFont(std::make_unique<cFontWinTT>()) {
  mFont->SetFace(mFontFace, mFontStyle, 0);
  mFont->SetSizePt(mFontSize);
}

TLabelScene::~TLabelScene() = default;

void TLabelScene::DropDocument() {
  mDocument.reset();
  mFormatted = false;
  mLaidOut = false;
}

void TLabelScene::SetMasterColor(bool v) {
  mMasterColor = v;
  Changed();
}

void TLabelScene::SetFontFace(const std::string& v) {
  mFontFace = v;
  mFont->SetName(v);
  Changed();
}

void TLabelScene::SetFontSize(double v) {
  mFontSize = v;
  mFont->SetSizePt(v);
  Changed();
}

void TLabelScene::SetFontStyle(sTextStyle v) {
  mFontStyle = v;
  mFont->SetStyle(v);
  Changed();
}

void TLabelScene::SetCaption(const std::string& v) {
  mCaption = v;
  DropDocument();
  Changed();
}

void TLabelScene::SetAlignHor(eAlign v) {
  mAlignHor = v;
  DropDocument();
  Changed();
}

void TLabelScene::SetAlignVer(eAlign v) {
  mAlignVer = v;
  DropDocument();
  Changed();
}

void TLabelScene::SetLineSp(double v) {
  mLineSp = v;
  DropDocument();
  Changed();
}

void TLabelScene::SetForceAscii(bool v) {
  mForceAscii = v;
  DropDocument();
  Changed();
}

void TLabelScene::SetLabelColor(uint32_t v) {
  mLabelColor = v;
  Changed();
}

void TLabelScene::SetEnabled(bool v) {
  mEnabled = v;
  Changed();
}

void TLabelScene::RenderFrame(int32_t width, int32_t height) {
  (void)height;
  cRenderer& r = *Renderer();
  r.ClearARGB(control_background(OwnerControl(), mMasterColor));
  r.SetFont(mFont.get());
  r.SetTextColorARGB(mEnabled ? mLabelColor : 0xFFA9A9A9);

  if (!mFormatted) {
    // A caption that fails to build stays blank until a setter drops it.
    DropDocument();
    ++mFormatCount;
    auto doc = std::make_unique<cComplexText>();
    if (doc->SetText(mCaption) && doc->FormatText(&r, mFont.get(), mAlignHor, mAlignVer, mLineSp, mForceAscii))
      mDocument = std::move(doc);
    mFormatted = true;
  }
  if (!mLaidOut && mDocument) {
    ++mLayoutCount;
    mDocument->LayoutText(width);
    mLaidOut = true;
  }
  if (!mDocument) return;
  // A line that cannot wrap narrower than the label shrinks the whole
  // caption about the top-left corner.
  const double w = mDocument->GetWidth();
  if (width < w && w > 0) r.Scale(width / w, width / w);
  mDocument->RenderText(&r, 6, 0, 0, nullptr);
}

// ---------------------------------------------------------------------------
// TKVNLabel

TKVNLabel::TKVNLabel(ui::TComponent* owner) : TKVNCustomControl(owner) {
  ControlStyle &= ~uint32_t(ui::csDoubleClicks);
  SetParentColor(true);
  SetBounds(Left(), Top(), 100, 17);
  SetColor(ui::clBtnFace);  // turns ParentColor off again
  SetTabStop(false);
  mScene = new TLabelScene;
  SetScene(mScene);
}

TKVNLabel::~TKVNLabel() { ui::TObject::Free(mScene); }

intptr_t TKVNLabel::WmSize(int width, int height) {
  if (mScene != nullptr) mScene->DropLayout();
  return TKVNCustomControl::WmSize(width, height);  // invalidates the scene at the new size
}
