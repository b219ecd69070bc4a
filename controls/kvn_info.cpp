#include "kvn_info.h"

#include <algorithm>
#include <cmath>

#include "kvn_cursors.h"
#include "kvn_drawing.h"
#include "kvn_shell.h"
#include "qlm_renderer.h"
#include "qlm_renderer_hittest.h"

namespace {

// The layers' origin in content pixels, and what the layout leaves free of
// the control's width.
constexpr int32_t kOrigin = 10;
constexpr int32_t kMargin = 50;

// What a document scene's picture depends on besides the document: the
// bitmap's size, the window of the layer it renders and the layer's size
// (the update rectangle), and whether a control shows it whole.
cSceneKey picture_key(TRenderingSceneDirect& scene, uint64_t generation) {
  cSceneKey key;
  const ui::TBitmap* b = scene.Bitmap();
  const ui::TRect& w = scene.Window();
  const rCompositeLayer* l = scene.Layer();
  key << generation << (b != nullptr ? b->Width() : -1) << (b != nullptr ? b->Height() : -1) << w.Left << w.Top
      << w.Right << w.Bottom << (l != nullptr ? l->width : -1) << (l != nullptr ? l->height : -1)
      << (scene.OwnerControl() != nullptr);
  return key;
}

int32_t round_up(double v) {
  if (!(v > 0)) return 0;
  return v >= double(INT32_MAX) ? INT32_MAX : int32_t(std::ceil(v));
}

}  // namespace

// ---------------------------------------------------------------------------
// TInfoScene

TInfoScene::TInfoScene() { mFont.SetFace("Arial", 0, 16.0); }

TInfoScene::~TInfoScene() = default;

bool TInfoScene::LoadText(const std::string& markup, int32_t width, bool forceAscii) {
  std::lock_guard lock(mLock);
  ++mGeneration;
  return mDocument.SetText(markup) &&
         mDocument.FormatText(Renderer(), &mFont, ALIGN_LEFT, ALIGN_BOTTOM, 5.0, forceAscii) &&
         mDocument.LayoutText(width);
}

bool TInfoScene::Relayout(int32_t width) {
  std::lock_guard lock(mLock);
  ++mGeneration;
  return mDocument.LayoutText(width);
}

bool TInfoScene::AppendText(const std::string& markup) {
  std::lock_guard lock(mLock);
  ++mGeneration;
  return mDocument.AppendText(markup);
}

int32_t TInfoScene::GetTextHeight() const { return round_up(mDocument.GetHeight()); }
int32_t TInfoScene::GetLayoutWidth() const { return round_up(mDocument.GetLayoutWidth()); }
int32_t TInfoScene::GetTextWidth() const { return round_up(mDocument.GetWidth()); }

void TInfoScene::RenderFrame(int32_t, int32_t) {
  std::lock_guard lock(mLock);
  cSceneKey key = picture_key(*this, mGeneration.load());
  if (mStill.Restore(key, Bitmap())) return;
  mStill.Drop();
  cRenderer& r = *Renderer();
  r.ClearRGBA(0, 0, 0, 0);
  r.SetFont(&mFont);
  mDocument.RenderText(&r, cnRenderPlain, 0, 0, nullptr);
  mStill.Keep(std::move(key), Bitmap());
}

// ---------------------------------------------------------------------------
// TInfoSceneHRefs

void TInfoSceneHRefs::RenderFrame(int32_t, int32_t) {
  cRenderer& r = *Renderer();
  if (mText == nullptr) {
    r.ClearRGBA(0, 0, 0, 0);
    return;
  }
  std::lock_guard lock(mText->DocumentLock());
  // A link state that changes counts as a change of the document.
  cSceneKey key = picture_key(*this, mText->mGeneration.load());
  if (mStill.Restore(key, Bitmap())) return;
  mStill.Drop();
  r.ClearRGBA(0, 0, 0, 0);
  r.SetFont(&mText->mFont);
  mText->mDocument.RenderText(&r, cnRenderLinks, 0, 0, nullptr);
  mStill.Keep(std::move(key), Bitmap());
}

// ---------------------------------------------------------------------------
// TInfoControl

TInfoControl::TInfoControl(ui::TComponent* owner) : TKVNCompositeCustomControl(owner) {
  BackgroundColor = 0xFFFFFAF0;
  SetScrollBarColor(0xFFCC9900);
}

void TInfoControl::SetScenes(TInfoScene* text, TInfoSceneHRefs* links) {
  mText = text;
  mLinks = links;
}

void TInfoControl::AddDocumentLayers() {
  if (mText == nullptr) return;
  const int32_t w = mText->GetTextWidth();
  const int32_t h = int32_t(std::min<int64_t>(int64_t(mText->GetTextHeight()) + mEndRoom, INT32_MAX));
  const int32_t lw = w > INT32_MAX - kOrigin ? INT32_MAX : w + kOrigin;
  AddLayer(kOrigin, kOrigin, lw, h, mText);
  if (mLinks != nullptr) AddLayer(kOrigin, kOrigin, lw, h, mLinks);
}

bool TInfoControl::AppendText(const std::string& markup) {
  if (mText == nullptr) return false;
  // At the end: scrolled as far as it goes (or all of it shows).
  const bool atEnd = int64_t(ScrollY()) + Height() >= ScrollHeight();
  if (!mText->AppendText(markup)) return false;
  BeginUpdate();
  ClearLayers(false);
  AddDocumentLayers();
  if (atEnd) ScrollToEnd();
  Repaint();
  EndUpdate();
  return true;
}

void TInfoControl::SetEndRoom(int32_t room) {
  room = std::max(room, 0);
  if (room == mEndRoom) return;
  mEndRoom = room;
  if (mText == nullptr || Layers().Count() == 0) return;
  BeginUpdate();
  ClearLayers(false);
  AddDocumentLayers();
  Repaint();
  EndUpdate();
}

void TInfoControl::ClearStatesUnlocked(bool& changed) {
  if (mText == nullptr) return;
  // The document itself, so that only a state that changes counts as a
  // change of it.
  cComplexText& doc = mText->mDocument;
  for (rHyperLink* l = doc.FirstLink(); l != nullptr; l = doc.NextLink()) {
    if (l->state == 0) continue;
    changed = true;
    l->state = 0;
    ++mText->mGeneration;
  }
}

void TInfoControl::ClearLinkStates(bool& changed) {
  if (mText == nullptr) return;
  std::lock_guard lock(mText->DocumentLock());
  ClearStatesUnlocked(changed);
}

rHyperLink* TInfoControl::LinkAt(uint8_t state, bool& changed, double x, double y) {
  // The nearest form holding the control, wherever the viewer sits.
  const ui::TForm* form = ParentForm();
  if (form == nullptr || !form->IsForeground() || mText == nullptr) return nullptr;
  // Into document coordinates: the scroll offsets added, the layers'
  // origin taken away.
  x += double(ScrollX()) - kOrigin;
  y += double(ScrollY()) - kOrigin;
  std::lock_guard lock(mText->DocumentLock());
  cComplexText& doc = mText->mDocument;
  rHyperLink* found = nullptr;
  for (rHyperLink* l = doc.FirstLink(); l != nullptr; l = doc.NextLink()) {
    if (l->hit != nullptr && l->hit->HitTest(x, y) > 0) {
      found = l;
      break;
    }
  }
  if (found == nullptr) {
    ClearStatesUnlocked(changed);
    return nullptr;
  }
  for (rHyperLink* l = doc.FirstLink(); l != nullptr; l = doc.NextLink()) {
    if (l->href != found->href || l->state == state) continue;
    changed = true;
    l->state = state;
    ++mText->mGeneration;
  }
  return found;
}

void TInfoControl::InvalidateLinks() {
  if (mLinks != nullptr) mLinks->Invalidate(true, 0, 0);
}

void TInfoControl::UpdateHover(int32_t x, int32_t y, bool& handled) {
  TKVNCompositeCustomControl::UpdateHover(x, y, handled);
  if (handled) return;
  const uint8_t state = mPressed != 0 ? 2 : 1;
  bool changed = false;
  ui::TCursor cursor = ui::crArrow;
  if (HoverPart() == hpNone && LinkAt(state, changed, x, y) != nullptr)
    cursor = link_cursor();
  else
    ClearLinkStates(changed);
  SetCursor(cursor);
  if (changed) {
    ui::SetCursorNow(cursor);
    InvalidateLinks();
  }
}

void TInfoControl::DrawScrollbars(int32_t width, int32_t height) {
  TKVNCompositeCustomControl::DrawScrollbars(width, height);
  if (!Frame) return;
  draw_crisp_frame(*Renderer(), width, height, 0xFF808080);
}

intptr_t TInfoControl::WmSize(int width, int height) {
  int32_t layout = width - kMargin;
  if (layout < 1) layout = 0;
  if (mText != nullptr && layout != mText->GetLayoutWidth()) {
    BeginUpdate();
    mText->Relayout(layout);
    ClearLayers(false);
    AddDocumentLayers();
    EndUpdate();
  }
  // The offsets follow the new size (the content may now be shorter).
  TKVNCompositeCustomControl::WmSize(width, height);
  return 1;
}

intptr_t TInfoControl::WmMouseMove(const ui::TMouseMsg& m) {
  if (TKVNCompositeCustomControl::WmMouseMove(m) == 0) return 0;
  bool changed = false;
  SetCursor(LinkAt(mPressed != 0 ? 2 : 1, changed, m.X, m.Y) != nullptr ? link_cursor() : ui::crArrow);
  if (changed) InvalidateLinks();
  return 0;
}

intptr_t TInfoControl::WmLButtonDown(const ui::TMouseMsg& m) {
  if (TKVNCompositeCustomControl::WmLButtonDown(m) == 0) return 0;
  bool changed = false;
  if (LinkAt(2, changed, m.X, m.Y) != nullptr) {
    SetCursor(link_cursor());
    ui::SetCapture(this);
    mPressed = 1;
  } else {
    SetCursor(ui::crArrow);
  }
  if (changed)
    InvalidateLinks();
  else if (mPressed == 0)
    BeginDragScroll(m.X, m.Y);
  return 0;
}

intptr_t TInfoControl::WmLButtonUp(const ui::TMouseMsg& m) {
  if (mPressed == 0) return TKVNCompositeCustomControl::WmLButtonUp(m);
  bool changed = false;
  std::string href;
  bool open = false;
  if (rHyperLink* link = LinkAt(1, changed, m.X, m.Y); link != nullptr && mPressed == 1) {
    if (link->href != nullptr) href = link->href->GetText();
    open = web_address_allowed(href);
  }
  if (open) {
    SetCursor(link_cursor());
  } else {
    // No link, or one that will not open: nothing stays lit.
    ClearLinkStates(changed);
    SetCursor(ui::crArrow);
  }
  mPressed = 0;
  // Releasing the capture sends the capture-changed message, which finds
  // nothing pressed any more.
  if (ui::GetCapture() == this) ui::ReleaseCapture();
  if (changed) InvalidateLinks();
  if (open) open_web_page(href);
  return 0;
}

intptr_t TInfoControl::WmCaptureChanged() {
  if (TKVNCompositeCustomControl::WmCaptureChanged() == 0) return 0;
  bool changed = false;
  ClearLinkStates(changed);
  mPressed = 0;
  if (changed) InvalidateLinks();
  return 0;
}
