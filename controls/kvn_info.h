// The document viewer: a scrolling VormCode page with live links.
//
// TInfoScene owns the rich-text document and draws its ordinary text;
// TInfoSceneHRefs draws only the hyperlinks of the same document and so
// records their hit areas; TInfoControl stacks both as layers of a
// composite at (10, 10), scrolls them, shows hover and pressed links with
// the link cursor and opens a clicked link. The form that uses the viewer
// creates the scenes, hands them over with SetScenes and frees them.
//
// Both scenes render windowed: only the visible part of the document is
// drawn, and the link hit areas stay in document coordinates.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "kvn_composite.h"
#include "qlm_complex_text.h"
#include "qlm_font.h"

class TInfoScene : public TRenderingSceneDirect {
 public:
  TInfoScene();
  ~TInfoScene() override;

  // Parses, formats (the scene font, left and bottom alignment, line
  // spacing 5) and lays the mark-up out to the width; a failing step leaves
  // the later ones undone (the document logs why). GUI thread only.
  bool LoadText(const std::string& markup, int32_t width, bool forceAscii);
  bool Relayout(int32_t width);
  // Adds mark-up at the end of the loaded document, formatted and laid out
  // alone (the install log). False, and nothing changes, when the document
  // holds no formatted text or the mark-up does not parse.
  bool AppendText(const std::string& markup);
  // The laid-out height, the last layout's width, and the larger of the
  // widest line and that width, each rounded up.
  int32_t GetTextHeight() const;
  int32_t GetLayoutWidth() const;
  int32_t GetTextWidth() const;

  bool RendersWindowed() override { return true; }
  void RenderFrame(int32_t width, int32_t height) override;

  // Changeable access to the document or the font counts as a change:
  // both scenes draw afresh at their next render.
  cComplexText& Document() {
    ++mGeneration;
    return mDocument;
  }
  cFontWinTT& Font() {
    ++mGeneration;
    return mFont;
  }
  // Counts the document's changes (a link state the viewer changed
  // included) and every changeable access.
  uint64_t Generation() const { return mGeneration.load(); }
  // Whether the last picture drawn is kept for the next render.
  bool StillKept() const { return mStill.Kept(); }
  // Guards the document against the other layer's drawing; never held
  // while another lock is taken.
  std::mutex& DocumentLock() { return mLock; }

 private:
  friend class TInfoSceneHRefs;
  friend class TInfoControl;
  cFontWinTT mFont;
  cComplexText mDocument;
  std::mutex mLock;
  std::atomic<uint64_t> mGeneration{0};
  // The last picture, kept while the document and the window stay.
  cScenePixels mStill;
};

class TInfoSceneHRefs : public TRenderingSceneDirect {
 public:
  explicit TInfoSceneHRefs(TInfoScene* text) : mText(text) {}
  bool RendersWindowed() override { return true; }
  // The hyperlink runs only: their hit areas are recorded, then glow and
  // text by state.
  void RenderFrame(int32_t width, int32_t height) override;
  TInfoScene* TextScene() const { return mText; }
  // Whether the last picture drawn is kept for the next render.
  bool StillKept() const { return mStill.Kept(); }

 private:
  TInfoScene* mText;
  // The last picture (and so the hit areas recorded with it), kept while
  // the document, its link states and the window stay.
  cScenePixels mStill;
};

class TInfoControl : public TKVNCompositeCustomControl {
 public:
  explicit TInfoControl(ui::TComponent* owner);

  // Stores both scenes (not owned); the caller adds them as layers.
  void SetScenes(TInfoScene* text, TInfoSceneHRefs* links);
  // Adds the text and link layers at (10, 10), as large as the laid-out
  // document.
  void AddDocumentLayers();
  // Appends mark-up to the document, grows both layers to the new height
  // and keeps the view at the end when it was there (else where the user
  // scrolled to).
  bool AppendText(const std::string& markup);
  // Room kept below the document (both layers that much higher): the
  // height of an ending the document will get but does not hold yet, so a
  // growing document shows as it will when it is whole. Set again for each
  // document; changing it re-adds the layers.
  void SetEndRoom(int32_t room);
  int32_t EndRoom() const { return mEndRoom; }

  // The link under a client point (in front only): every link of its href
  // takes the state; nil (and every state back to 0) when none is there.
  rHyperLink* LinkAt(uint8_t state, bool& changed, double x, double y);
  // Every link's state to 0; changed becomes true when any was not 0.
  void ClearLinkStates(bool& changed);

  void UpdateHover(int32_t x, int32_t y, bool& handled) override;
  void DrawScrollbars(int32_t width, int32_t height) override;
  intptr_t WmSize(int width, int height) override;
  intptr_t WmMouseMove(const ui::TMouseMsg& m) override;
  intptr_t WmLButtonDown(const ui::TMouseMsg& m) override;
  intptr_t WmLButtonUp(const ui::TMouseMsg& m) override;
  intptr_t WmCaptureChanged() override;

  TInfoScene* TextScene() const { return mText; }
  TInfoSceneHRefs* LinkScene() const { return mLinks; }
  bool Pressed() const { return mPressed != 0; }
  // A grey one-pixel frame around the control.
  bool Frame = false;

 private:
  void ClearStatesUnlocked(bool& changed);
  void InvalidateLinks();
  TInfoScene* mText = nullptr;
  TInfoSceneHRefs* mLinks = nullptr;
  uint8_t mPressed = 0;
  int32_t mEndRoom = 0;
};
