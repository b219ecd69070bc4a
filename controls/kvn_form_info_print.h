// The print preview: a mark-up document paginated for the selected printer
// with an adjustable margin and font size, shown as a row of page
// thumbnails that the scene's worker renders, and printed page by page as
// bitmaps through the printer device context.
//
// Threads: the document, the print font and every size the worker reads
// are guarded by the document lock. Measuring and paginating on the GUI
// thread use a renderer of their own, so the worker's renderer is touched
// only by the worker, and by the print pass once the worker is idle.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "kvn_button.h"
#include "kvn_composite.h"
#include "kvn_heading.h"
#include "kvn_label.h"
#include "kvn_scene.h"
#include "qlm_complex_text.h"
#include "qlm_font.h"
#include "qlm_printer_dc.h"
#include "ui_spinedit.h"

// The print font's pixel size, shared by every print preview; the
// font-size spin edit writes it, the workers read it.
extern std::atomic<int32_t> gPrintFontSize;

class TInfoPrintScene : public TRenderingSceneThread {
 public:
  // The largest preview side and block a bitmap may have: thumbnails past
  // them are not shown (the document still prints whole).
  static constexpr int32_t kMaxPreviewSide = 32767;
  static constexpr int64_t kMaxPreviewPixels = int64_t(1) << 28;

  // A nil backend means the process-wide print backend.
  explicit TInfoPrintScene(plat::print::Backend* backend = nullptr);
  ~TInfoPrintScene() override;

  // Keeps the mark-up and parses it.
  void LoadText(const std::string& markup);
  // The print font becomes "Arial" regular at gPrintFontSize.
  void ResetFont();
  // Page and text-area sizes for the printer and the margin (millimetres),
  // then formats, lays out and paginates; true when the document has text.
  bool PreparePages(int32_t margin);
  // Thumbnail and preview sizes for a viewer of that height.
  void LayoutPreview(int32_t width, int32_t height);
  // Prints every page; call only while the worker is idle.
  bool PrintDocument(const std::string& title);
  void RenderFrame(int32_t width, int32_t height) override;

  cPrinterDC& Printer() { return mPrinter; }
  std::mutex& DocumentLock() { return mDocLock; }
  // Read on the GUI thread (which alone writes them).
  int32_t PreviewWidth() const { return mPreviewWidth; }
  int32_t PreviewHeight() const { return mPreviewHeight; }
  double ThumbWidth() const { return mThumbWidth; }
  double ThumbHeight() const { return mThumbHeight; }
  double PageWidth() const { return mPageWidth; }
  double PageHeight() const { return mPageHeight; }
  double TextAreaWidth() const { return mTextAreaWidth; }
  double TextAreaHeight() const { return mTextAreaHeight; }
  int32_t PageCount();
  // The last frame's label scales, for tests (1 when unscaled).
  double LastLabelScale() const { return mLastLabelScale.load(); }

 private:
  std::string mText;
  cComplexText mDocument;
  std::unique_ptr<cFontWinTT> mFont;
  std::mutex mDocLock;
  cPrinterDC mPrinter;
  double mPageWidth = 0, mPageHeight = 0;
  double mPrintable[4] = {0, 0, 0, 0};  // top, left, right, bottom
  double mTextAreaWidth = 0, mTextAreaHeight = 0;
  double mTextArea[4] = {0, 0, 0, 0};  // top, left, right, bottom
  int32_t mPreviewWidth = 0, mPreviewHeight = 0;
  double mThumbWidth = 0, mThumbHeight = 0;
  std::unique_ptr<cRenderer> mMeasure;  // the GUI thread's
  std::atomic<double> mLastLabelScale{1.0};
};

class TInfoPrintControl : public TKVNCompositeCustomControl {
 public:
  explicit TInfoPrintControl(ui::TComponent* owner);
  ~TInfoPrintControl() override;
  void SetScene(TInfoPrintScene* scene);
  void UpdatePrinterInfo();
  const std::string& PrinterLine() const { return mLine; }
  double LastLineScale() const { return mLastLineScale; }
  intptr_t WmSize(int width, int height) override;
  intptr_t WmLButtonDown(const ui::TMouseMsg& m) override;
  void DrawScrollbars(int32_t width, int32_t height) override;

 private:
  std::unique_ptr<cFontWinTT> mLineFont;
  TInfoPrintScene* mScene = nullptr;
  std::string mLine;
  double mLastLineScale = 1;
};

// The message of a failed print: "Printing failed or interrupted." and, when
// the printer gave one, its reason as a sentence after it ("Printing failed
// or interrupted. The print server does not answer."), as mark-up.
std::string print_failure_message(const std::string& reason);

class TFormInfoPrint : public ui::TForm {
 public:
  explicit TFormInfoPrint(ui::TComponent* owner, plat::print::Backend* backend = nullptr);
  ~TFormInfoPrint() override;

  // Prepares the dialog for one document; the caller then shows it
  // modally and releases it. The font map is not used (none is given).
  void SetDocument(const void* fontMap, const std::string& markup, const std::string& title, bool stayOnTop);
  void Relayout();

  TKVNHeading* KVNHeading1 = nullptr;
  ui::TPanel* Panel1 = nullptr;
  TKVNLabel* KVNLabel2 = nullptr;
  ui::TSpinEdit* SpinEdit2 = nullptr;
  TKVNLabel* KVNLabel1 = nullptr;
  ui::TSpinEdit* SpinEdit1 = nullptr;
  TKVNButton* KVNButton3 = nullptr;
  TKVNButton* KVNButton2 = nullptr;
  TKVNButton* KVNButton1 = nullptr;

  TInfoPrintScene* Scene() const { return mScene; }
  TInfoPrintControl* Viewer() const { return mViewer; }
  // The print pass's answer of the last Print click, and the message shown
  // when it failed (empty when it did not).
  bool LastPrintOk() const { return mLastPrintOk; }
  const std::string& LastPrintMessage() const { return mLastPrintMessage; }

  void KVNButton1Click();
  void KVNButton2Click();
  void KVNButton3Click();
  void SpinEdit1Change();
  void SpinEdit2Change();

 private:
  void Layout(bool resetScroll);
  void FormShow();
  void FormHide();
  TInfoPrintScene* mScene = nullptr;
  TInfoPrintControl* mViewer = nullptr;
  std::string mTitle;
  bool mStayOnTop = false;
  bool mLastPrintOk = false;
  std::string mLastPrintMessage;
};
