#include "kvn_form_info_print.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "kvn_form_dlg.h"
#include "kvn_form_wait.h"
#include "kvn_forms.h"
#include "qlm_bitmap.h"
#include "qlm_renderer.h"
#include "qlm_renderer_surface.h"
#include "ui_app.h"

std::atomic<int32_t> gPrintFontSize{16};

namespace {

// The fonts' fixed resolution.
constexpr double kFontDpi = 96.0;

std::unique_ptr<cFontWinTT> arial(double size) {
  auto f = std::make_unique<cFontWinTT>();
  f->SetFace("Arial", 0, size);
  return f;
}

}  // namespace

// ---------------------------------------------------------------------------
// TInfoPrintScene

TInfoPrintScene::TInfoPrintScene(plat::print::Backend* backend)
    : mFont(arial(gPrintFontSize.load())), mPrinter(backend), mMeasure(renderer_create()) {}

TInfoPrintScene::~TInfoPrintScene() = default;

void TInfoPrintScene::LoadText(const std::string& markup) {
  mText = markup;
  std::lock_guard lock(mDocLock);
  mDocument.SetText(markup);
}

void TInfoPrintScene::ResetFont() {
  std::lock_guard lock(mDocLock);
  mFont->SetFace("Arial", 0, gPrintFontSize.load());
}

int32_t TInfoPrintScene::PageCount() {
  std::lock_guard lock(mDocLock);
  return mDocument.PageCount();
}

bool TInfoPrintScene::PreparePages(int32_t margin) {
  std::lock_guard lock(mDocLock);
  // A printer that reports no resolution counts as none (its sizes would
  // divide by 0): A4 then, as without a printer.
  const bool printer = !mPrinter.PrinterName().empty() && mPrinter.DpiX() > 0 && mPrinter.DpiY() > 0;
  if (printer) {
    const double sx = kFontDpi / mPrinter.DpiX(), sy = kFontDpi / mPrinter.DpiY();
    mPageWidth = mPrinter.PhysicalWidth() * sx;
    mPageHeight = mPrinter.PhysicalHeight() * sy;
    const rRect& a = mPrinter.PrintableArea();
    mPrintable[0] = a.y1 * sy;
    mPrintable[1] = a.x1 * sx;
    mPrintable[2] = a.x2 * sx;
    mPrintable[3] = a.y2 * sy;
  } else {
    // The paper in tenths of a millimetre.
    const double sx = kFontDpi / 254, sy = kFontDpi / 254;
    const bool paper = mPrinter.State() == 0;
    mPageWidth = (paper ? mPrinter.PhysicalWidth() : 2100) * sx;
    mPageHeight = (paper ? mPrinter.PhysicalHeight() : 2970) * sy;
    mPrintable[0] = 0;
    mPrintable[1] = 0;
    mPrintable[2] = mPageWidth;
    mPrintable[3] = mPageHeight;
  }
  const double mx = margin * kFontDpi / 25.4, my = margin * kFontDpi / 25.4;
  mTextArea[0] = my;
  mTextArea[1] = mx;
  mTextArea[2] = mPageWidth - mx;
  mTextArea[3] = mPageHeight - my;
  mTextAreaWidth = mTextArea[2] - mTextArea[1];
  mTextAreaHeight = mTextArea[3] - mTextArea[0];
  mPreviewWidth = mPreviewHeight = 0;
  mThumbWidth = mThumbHeight = 0;
  if (!mDocument.HasText()) return false;
  // A new font for every pagination: one font object caches at most 32
  // sizes, and the glyph cache's eviction past that copies overlapping
  // memory; a fresh object per layout sees only the document's few sizes.
  // The document is formatted with it at once (or dropped) below, so no
  // frame draws with the old one.
  // The measuring renderer lets go of the old font first (formatting
  // restores the renderer's previous font when it ends).
  std::unique_ptr<cFontWinTT> fresh = arial(gPrintFontSize.load());
  mMeasure->SetFont(fresh.get());
  mFont = std::move(fresh);
  if (mTextAreaWidth >= 10 && mTextAreaHeight >= 10) {
    (void)(mDocument.FormatText(mMeasure.get(), mFont.get(), ALIGN_LEFT, ALIGN_BOTTOM, 0.0, true) &&
           mDocument.LayoutText(mTextAreaWidth) && mDocument.Paginate(mTextAreaHeight));
  } else {
    mDocument.ClearFormat();
  }
  return true;
}

void TInfoPrintScene::LayoutPreview(int32_t, int32_t height) {
  std::lock_guard lock(mDocLock);
  mPreviewWidth = mPreviewHeight = 0;
  mThumbWidth = mThumbHeight = 0;
  if (!(mPageWidth > 0) || !(mPageHeight > 0)) return;
  mThumbHeight = std::max(10.0, double(height) - 110);
  mThumbWidth = mThumbHeight * mPageWidth / mPageHeight;
  const double pages = std::max(mDocument.PageCount(), 1);
  const double w = std::ceil((mThumbWidth + 15) * pages + 15), h = std::ceil(mThumbHeight + 50 + 60);
  mPreviewHeight = int32_t(std::min(h, double(kMaxPreviewSide)));
  const double maxWidth = std::min<double>(kMaxPreviewSide, double(kMaxPreviewPixels / mPreviewHeight));
  mPreviewWidth = int32_t(std::min(w, maxWidth));
}

void TInfoPrintScene::RenderFrame(int32_t, int32_t) {
  std::lock_guard lock(mDocLock);
  cRenderer& r = *Renderer();
  r.ClearRGBA(0, 0, 0, 0);
  r.SetFont(mFont.get());
  const int32_t pages = mDocument.PageCount();
  for (int32_t i = 1; i <= pages; ++i) {
    const double x1 = (mThumbWidth + 15) * (i - 1) + 15, y1 = 50;
    if (x1 > mPreviewWidth) break;  // past the bounded preview
    const double x2 = x1 + mThumbWidth, y2 = 50 + mThumbHeight;
    r.PenOff();
    r.SetFillColorARGB(0xFFDCDCDC);
    r.DrawRectangle(nullptr, x1, y1, x2, y2);
    r.SetViewport(0, 0, 0, mPageWidth, mPageHeight, x1, y1, x2, y2);
    r.SetFillColorARGB(0xFFFFFFFF);
    r.DrawRectangle(nullptr, mPrintable[1], mPrintable[0], mPrintable[2], mPrintable[3]);
    mFont->SetFace("Arial", 0, gPrintFontSize.load());
    r.SetFont(mFont.get());
    r.SetTextColorARGB(0xFF000000);
    r.SetTextAlign(ALIGN_LEFT, ALIGN_TOP);
    r.ClipRect(0, 0, mPageWidth, mPageHeight);
    mDocument.RenderPage(&r, i, mTextArea[1], mTextArea[0], 6, nullptr);
    r.ClipOff();
    mFont->SetFace("Arial", 0, 16.0);
    r.SetFont(mFont.get());
    r.ResetTransformations(false);
    const std::string label = "Page " + std::to_string(i);
    const double lx = x1 + (x2 - x1) / 2, ly = y2 + 10;
    r.SetTextAlign(ALIGN_CENTER, ALIGN_TOP);
    r.SetTextColorARGB(0xFFFFFF00);
    const double room = mThumbWidth - 10, lw = r.TextWidth(label);
    double scale = 1;
    // A room that is not positive is not scaled (the label would mirror).
    if (room > 0 && lw > room) {
      scale = room / lw;
      r.Translate(-lx, -ly);
      r.Scale(scale, scale);
      r.Translate(lx, ly);
    }
    mLastLabelScale.store(scale);
    r.DrawText(label, lx, ly, nullptr);
    r.ResetTransformations(false);
  }
}

bool TInfoPrintScene::PrintDocument(const std::string& title) {
  std::lock_guard lock(mDocLock);
  if (mPrinter.State() != 1) return false;
  const int32_t pw = mPrinter.PhysicalWidth(), ph = mPrinter.PhysicalHeight();
  if (pw <= 0 || ph <= 0) return false;
  cBitmap page(pw, ph, 3);
  if (!page.Create(pw, ph)) return false;
  if (!mPrinter.StartDoc(title)) return false;
  bool ok = true;
  cSurfaceBitmap surface;
  cRenderer& r = *Renderer();
  const rRect& a = mPrinter.PrintableArea();
  const int32_t pages = mDocument.PageCount();
  for (int32_t i = 1; i <= pages && ok; ++i) {
    if (!surface.Attach(&page, true) || !r.AttachSurface(&surface)) {
      ok = false;
      break;
    }
    r.ClearARGB(0xFFFFFFFF);
    mFont->SetFace("Arial", 0, gPrintFontSize.load());
    r.SetFont(mFont.get());
    r.SetViewport(0, 0, 0, mPageWidth, mPageHeight, -a.x1, -a.y1, pw - a.x1, ph - a.y1);
    r.SetTextColorARGB(0xFF000000);
    r.SetTextAlign(ALIGN_LEFT, ALIGN_TOP);
    mDocument.RenderPage(&r, i, mTextArea[1], mTextArea[0], 6, nullptr);
    r.DetachSurface();
    surface.Detach();
    ok = mPrinter.StartPage() && mPrinter.DrawBitmap(&page, 0, 0) && mPrinter.EndPage();
  }
  return mPrinter.EndDoc() && ok;
}

// ---------------------------------------------------------------------------
// TInfoPrintControl

TInfoPrintControl::TInfoPrintControl(ui::TComponent* owner)
    : TKVNCompositeCustomControl(owner), mLineFont(arial(20.0)) {
  BackgroundColor = 0xFF808080;
  BarColor = 0xFFF5F5F5;
  HideWhenOutside = true;
}

TInfoPrintControl::~TInfoPrintControl() = default;

void TInfoPrintControl::SetScene(TInfoPrintScene* scene) {
  mScene = scene;
  UpdatePrinterInfo();
}

void TInfoPrintControl::UpdatePrinterInfo() {
  if (mScene == nullptr) return;
  const cPrinterDC& p = mScene->Printer();
  std::string line = p.PrinterName().empty() ? "No Printer Found" : p.PrinterName();
  if (!p.FormName().empty()) line += ", " + p.FormName();
  if (p.DpiX() > 0 && p.DpiY() > 0 && p.PhysicalWidth() > 0 && p.PhysicalHeight() > 0) {
    const double w = std::nearbyint(double(p.PhysicalWidth()) / p.DpiX() * 25.4);
    const double h = std::nearbyint(double(p.PhysicalHeight()) / p.DpiY() * 25.4);
    line += " (" + std::to_string(int64_t(w)) + " x " + std::to_string(int64_t(h)) + " mm)";
  }
  line += p.Landscape() ? ", Landscape" : ", Portrait";
  mLine = line;
  Repaint();
}

intptr_t TInfoPrintControl::WmSize(int width, int height) {
  if (mScene == nullptr) return TKVNCompositeCustomControl::WmSize(width, height);
  // The scene takes its own lock; none is held here while the layers change.
  const int32_t oldW = mScene->PreviewWidth(), oldH = mScene->PreviewHeight();
  mScene->LayoutPreview(width, height);
  if (mScene->PreviewWidth() != oldW || mScene->PreviewHeight() != oldH) {
    ClearLayers(true);
    AddLayer(0, 0, mScene->PreviewWidth(), mScene->PreviewHeight(), mScene);
  }
  TKVNCompositeCustomControl::WmSize(width, height);
  return 1;
}

intptr_t TInfoPrintControl::WmLButtonDown(const ui::TMouseMsg& m) {
  const intptr_t r = TKVNCompositeCustomControl::WmLButtonDown(m);
  if (r != 0) BeginDragScroll(m.X, m.Y);
  return r;
}

void TInfoPrintControl::DrawScrollbars(int32_t width, int32_t height) {
  TKVNCompositeCustomControl::DrawScrollbars(width, height);
  cRenderer& r = *Renderer();
  r.SetFont(mLineFont.get());
  r.SetTextColorARGB(0xFFFFD700);
  r.SetTextAlign(ALIGN_RIGHT, ALIGN_TOP);
  // An offset shadow in its own right: setting only the distance and
  // switching the shadow on would bring back the kind last switched off,
  // which after the per-pass reset is none.
  r.SetOffsetShadow(3.0);
  r.SetShadowBlurred(true);
  r.SetShadowBlur(3.0);
  r.SetShadowColorARGB(0xFF000000);
  const double x = width - 15.0, y = 15.0, room = width - 30.0, lw = r.TextWidth(mLine);
  mLastLineScale = 1;
  // A room that is not positive is not scaled (the line would mirror).
  if (room > 0 && lw > room) {
    mLastLineScale = room / lw;
    r.Translate(-x, -y);
    r.Scale(mLastLineScale, mLastLineScale);
    r.Translate(x, y);
  }
  r.DrawText(mLine, x, y, nullptr);
  r.ResetTransformations(false);
  r.ShadowOff();
  r.SetPixelSnap(0.5, 0.5);
  r.SetPenWidth(1.0);
  r.FillOff();
  r.SetPenColorARGB(0xFF000000);
  r.DrawRectangle(nullptr, 0, 0, width - 1, height - 1);
}

// ---------------------------------------------------------------------------
// TFormInfoPrint

namespace {

TKVNLabel* make_label(ui::TForm* form, int left, int top, int width, const char* caption) {
  auto* l = new TKVNLabel(form);
  l->SetBounds(left, top, width, 21);
  TLabelScene* s = l->LabelScene();
  s->SetFontFace("Arial");
  s->SetFontSize(9.0);
  s->SetAlignHor(ALIGN_LEFT);
  s->SetAlignVer(ALIGN_BOTTOM);
  s->SetLineSp(3.0);
  s->SetForceAscii(true);
  s->SetLabelColor(0xFF000000);
  l->SetCaption(caption);
  l->SetAnchors(ui::akLeft | ui::akBottom);
  l->SetParent(form);
  return l;
}

ui::TSpinEdit* make_spin(ui::TForm* form, int left, int width, int lo, int hi, int value) {
  auto* s = new ui::TSpinEdit(form);
  s->SetBounds(left, 447, width, 22);
  s->SetMinValue(lo);
  s->SetMaxValue(hi);
  s->SetValue(value);
  s->SetAnchors(ui::akLeft | ui::akBottom);
  s->SetParent(form);
  return s;
}

}  // namespace

TFormInfoPrint::TFormInfoPrint(ui::TComponent* owner, plat::print::Backend* backend) : ui::TForm(owner) {
  SetBorderStyle(ui::bsSizeable);
  SetClientSize(509, 481);
  SetConstraints({525, 240});
  KeyPreview = true;
  Position = ui::poDefaultPosOnly;
  SetCaption(gDialogCaption);

  KVNHeading1 = dialog_heading(this, 509, CT_GRAY, CLR_GRAY, false);
  KVNHeading1->SetAlign(ui::alTop);
  KVNHeading1->HeadingScene()->SetCaptionText("Print preview & Print");
  KVNHeading1->HeadingScene()->SetButtonText(" ");  // blank: no help button
  KVNHeading1->SetIcon("..\\head_print.png");

  Panel1 = new ui::TPanel(this);
  Panel1->SetBounds(7, 44, 493, 392);
  Panel1->SetBevelOuter(ui::bvNone);
  Panel1->SetColor(ui::clBtnShadow);
  Panel1->SetAnchors(ui::akLeft | ui::akTop | ui::akRight | ui::akBottom);
  Panel1->SetParent(this);

  KVNLabel2 = make_label(this, 6, 447, 54, "Font size");
  SpinEdit2 = make_spin(this, 62, 43, 4, 60, 16);
  KVNLabel1 = make_label(this, 109, 445, 38, "Margin");
  SpinEdit1 = make_spin(this, 149, 45, 0, 100, 20);
  KVNButton3 = dialog_button(this, 210, 444, 130, 33, "Configure Printer", 8.0, CLR_ORANGE);
  KVNButton2 = dialog_button(this, 340, 444, 80, 33, "Print", 9.0, CLR_GREEN);
  KVNButton1 = dialog_button(this, 420, 444, 80, 33, "Close", 9.0, CLR_YELLOW);

  mScene = new TInfoPrintScene(backend);
  mViewer = new TInfoPrintControl(this);
  mViewer->SetAlign(ui::alClient);
  mViewer->SetParent(Panel1);
  mViewer->SetScene(mScene);

  SpinEdit1->OnChange = [this](ui::TObject*) { SpinEdit1Change(); };
  SpinEdit2->OnChange = [this](ui::TObject*) { SpinEdit2Change(); };
  KVNButton1->OnClick = [this](ui::TObject*) { KVNButton1Click(); };
  KVNButton2->OnClick = [this](ui::TObject*) { KVNButton2Click(); };
  KVNButton3->OnClick = [this](ui::TObject*) { KVNButton3Click(); };
  SetActiveControl(KVNButton2);
  OnShow = [this](ui::TObject*) { FormShow(); };
  OnHide = [this](ui::TObject*) { FormHide(); };
  OnKeyDown = [this](ui::TObject*, uint16_t& key, ui::TShiftState) {
    // Enter is swallowed here too: the focused Print button would otherwise
    // click on it.
    if (key == ui::VK_RETURN) key = 0;
    if (key == ui::VK_ESCAPE) {
      key = 0;
      SetModalResult(ui::mrCancel);
    }
  };
  OnKeyPress = [](ui::TObject*, char& ch) {
    if (ch == 13 || ch == 27) ch = 0;
  };
}

TFormInfoPrint::~TFormInfoPrint() {
  if (mViewer != nullptr) {
    mViewer->ClearLayers(true);
    mViewer->SetScene(nullptr);
  }
  // Stops the worker first (BeforeDestruction), while the scene is whole.
  ui::TObject::Free(mScene);
}

void TFormInfoPrint::SetDocument(const void*, const std::string& markup, const std::string& title, bool stayOnTop) {
  mTitle = title;
  mStayOnTop = stayOnTop;
  mScene->ResetFont();
  mScene->LoadText(markup);
  Layout(true);
}

void TFormInfoPrint::Layout(bool resetScroll) {
  mViewer->ClearLayers(resetScroll);
  mScene->PreparePages(SpinEdit1->Value());
  mScene->LayoutPreview(mViewer->ClientWidth(), mViewer->ClientHeight());
  mViewer->AddLayer(0, 0, mScene->PreviewWidth(), mScene->PreviewHeight(), mScene);
}

void TFormInfoPrint::Relayout() { Layout(false); }

void TFormInfoPrint::FormShow() {
  SetActiveControl(KVNButton2);
  if (mStayOnTop) SetFormStyle(ui::fsStayOnTop);
}

void TFormInfoPrint::FormHide() {
  mScene->FillBackground(0);
  mViewer->Repaint();
}

void TFormInfoPrint::SpinEdit1Change() {
  mScene->ResetFont();
  Relayout();
}

void TFormInfoPrint::SpinEdit2Change() {
  const int v = SpinEdit2->Value();
  if (v < SpinEdit2->MinValue()) return;
  gPrintFontSize.store(v);
  mScene->ResetFont();
  Relayout();
}

void TFormInfoPrint::KVNButton3Click() {
  if (!mScene->Printer().PrintDialog(true)) return;
  mViewer->UpdatePrinterInfo();
  mScene->ResetFont();
  Relayout();
}

std::string print_failure_message(const std::string& reason) {
  std::string message = "Printing failed or interrupted.";
  if (reason.empty()) return message;
  std::string sentence;
  for (const char c : reason) sentence += c == '~' ? std::string("~(~)") : std::string(1, c);  // mark-up
  if (sentence[0] >= 'a' && sentence[0] <= 'z') sentence[0] = char(sentence[0] - 'a' + 'A');
  if (sentence.back() != '.') sentence += '.';
  return message + " " + sentence;
}

void TFormInfoPrint::KVNButton2Click() {
  TFormWait* wait = wait_show("   Printing " + mTitle + " ...   ", nullptr);
  // The print pass shares the worker's renderer: it starts once the worker
  // has nothing queued and is not rendering, serving the worker's repaint
  // requests meanwhile (the worker may wait for one).
  while (mScene->HasPendingOrders() || mScene->IsBusy()) {
    ui::Application->ServeQueued();
    std::this_thread::yield();
  }
  const cPrinterDC& printer = mScene->Printer();
  const uint32_t rows = printer.Log() != nullptr ? printer.Log()->Count() : 0;
  mLastPrintOk = mScene->PrintDocument(mTitle);
  if (wait != nullptr) wait->Release();
  // The reason the printer logged for this pass, or, without a printer, the
  // one its selection logged.
  const bool logged = printer.Log() != nullptr && printer.Log()->Count() > rows;
  const std::string reason = logged || printer.State() == 0 ? printer.LastErrorText() : std::string();
  mLastPrintMessage = mLastPrintOk ? std::string() : print_failure_message(reason);
  if (!mLastPrintOk)
    dialog_show({.owner = this,
                 .kind = cnDlgKindWarning,
                 .title = "Print",
                 .message = mLastPrintMessage,
                 .clientWidth = 350,
                 .clientHeight = 170,
                 .reference = this});
}

void TFormInfoPrint::KVNButton1Click() { SetModalResult(ui::mrOk); }
