// The label: a mark-up caption laid out by the rich-text document, wrapped
// to the control's width and shrunk as a whole when a line cannot wrap
// narrower than the control. No focus, no timer, no input of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kvn_button.h"
#include "qlm_renderer_types.h"

class cComplexText;
class cFontWinTT;

class TLabelScene : public TRenderingSceneDirect {
 public:
  TLabelScene();
  ~TLabelScene() override;

  bool MasterColor() const { return mMasterColor; }
  void SetMasterColor(bool v);
  const std::string& FontFace() const { return mFontFace; }
  void SetFontFace(const std::string& v);
  double FontSize() const { return mFontSize; }
  void SetFontSize(double v);
  sTextStyle FontStyle() const { return mFontStyle; }
  void SetFontStyle(sTextStyle v);
  const std::string& Caption() const { return mCaption; }
  void SetCaption(const std::string& v);
  eAlign AlignHor() const { return mAlignHor; }
  void SetAlignHor(eAlign v);
  eAlign AlignVer() const { return mAlignVer; }
  void SetAlignVer(eAlign v);
  double LineSp() const { return mLineSp; }
  void SetLineSp(double v);
  bool ForceAscii() const { return mForceAscii; }
  void SetForceAscii(bool v);
  uint32_t LabelColor() const { return mLabelColor; }
  void SetLabelColor(uint32_t v);
  bool Enabled() const { return mEnabled; }
  void SetEnabled(bool v);

  // Frees the document: the next frame parses, formats and lays out again.
  void DropDocument();
  // The next frame lays the document out again (for a new width).
  void DropLayout() { mLaidOut = false; }

  void RenderFrame(int32_t width, int32_t height) override;

  cComplexText* Document() const { return mDocument.get(); }
  cFontWinTT* Font() const { return mFont.get(); }
  // How often the caption was parsed and formatted, and laid out.
  int32_t FormatCount() const { return mFormatCount; }
  int32_t LayoutCount() const { return mLayoutCount; }

 private:
  void Changed() { Invalidate(true, 0, 0); }

  std::unique_ptr<cFontWinTT> mFont;
  std::unique_ptr<cComplexText> mDocument;
  bool mMasterColor = true;
  bool mEnabled = true;
  bool mFormatted = false;
  bool mLaidOut = false;
  std::string mFontFace = "Arial";
  double mFontSize = 9.0;
  sTextStyle mFontStyle = 0;
  std::string mCaption = "Label";
  uint32_t mLabelColor = 0xFF000000;
  eAlign mAlignHor = ALIGN_LEFT;
  eAlign mAlignVer = ALIGN_BOTTOM;
  double mLineSp = 3.0;
  bool mForceAscii = true;
  int32_t mFormatCount = 0;
  int32_t mLayoutCount = 0;
};

// Its Enabled is the scene's flag (SceneEnabled; a disabled label is drawn
// dark grey); the control itself stays enabled.
class TKVNLabel : public TKVNCustomControl {
 public:
  explicit TKVNLabel(ui::TComponent* owner);
  ~TKVNLabel() override;

  TLabelScene* LabelScene() const { return mScene; }
  const std::string& Caption() const { return mScene->Caption(); }
  void SetCaption(const std::string& v) { mScene->SetCaption(v); }
  // The kit's Enabled: the scene's flag, apart from the window layer's
  // Enabled(), which stays true so that the control keeps its input.
  bool SceneEnabled() const { return mScene->Enabled(); }
  void SetSceneEnabled(bool v) { mScene->SetEnabled(v); }

  // A new size lays the caption out again at the next paint (without
  // parsing or formatting it again).
  intptr_t WmSize(int width, int height) override;

 private:
  TLabelScene* mScene = nullptr;
};
