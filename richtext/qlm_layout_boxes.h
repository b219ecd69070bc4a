// Layout boxes of a rich-text document: the vertical entries that the mark-up
// walk creates and the document lays out, draws and paginates one after
// another, and the hyperlink records that layout gives their runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "qlm_base_array.h"
#include "qlm_text_bits.h"

class cComplexText;
class cHitTest;
class cPropertyString;
class cRenderer;
class cBitmap;
class cTextBits;
struct rTextBit;
struct rRectD;
struct rLayoutEntry;

// Render flags (a set): 2 runs outside hyperlinks, 4 hyperlink runs, 8 both.
constexpr uint8_t cnRenderPlain = 2;
constexpr uint8_t cnRenderLinks = 4;
constexpr uint8_t cnRenderAll = 8;

// One hyperlink record: one per run (or string box) of a hyperlink.
struct rHyperLink {
  rHyperLink* next = nullptr;
  uint8_t state = 0;                      // 0 normal, 1 hover, 2 pressed
  const cPropertyString* href = nullptr;  // shared by the records of a link
  std::unique_ptr<cHitTest> hit;          // filled by drawing with flag 4 or 8
  rHyperLink();
  ~rHyperLink();
  rHyperLink(const rHyperLink&) = delete;
  rHyperLink& operator=(const rHyperLink&) = delete;
};

class cHyperLinks : public cArrayOf<rHyperLink, 1> {
 public:
  cHyperLinks() : cArrayOf<rHyperLink, 1>(5) {}
  // A record with state 0, the href and a new hit test.
  rHyperLink* Append(const cPropertyString* href);
};

class cLayoutBox {
 public:
  cLayoutBox() = default;
  virtual ~cLayoutBox() = default;
  cLayoutBox(const cLayoutBox&) = delete;
  cLayoutBox& operator=(const cLayoutBox&) = delete;

  virtual bool Format(cComplexText& doc, cHyperLinks* links);
  virtual bool Layout(cComplexText& doc, cHyperLinks* links, double width);
  virtual void Render(cComplexText& doc, uint8_t flags, double x, double y, cHitTest* hit);
  virtual void Paginate(cComplexText& doc, double& total_y, double& page_y, double page_height, int32_t& page);
  virtual void RenderPage(cComplexText& doc, int32_t page, double x, double y, uint8_t flags, cHitTest* hit);
  // Drops what the last layout gave the box (hyperlink records, which the
  // next layout frees, and visible runs): a box that a layout passes over
  // then draws nothing instead of drawing stale runs and links.
  virtual void Forget() {}
  // The lowest document y at which drawing the box (RenderText) can show
  // anything: +infinity when unknown, -infinity when it draws nothing.
  virtual double DrawReach() const;
  // A spacing box (cBoxSpace), which its layout entry's kind follows.
  virtual bool IsSpacing() const { return false; }

  // MakeLink: a new record of the list for the href when both exist.
  static rHyperLink* MakeLink(const cPropertyString* href, cHyperLinks* links);
  // Records the rectangle in a link's hit test: the test is reset and the
  // rectangle drawn into it almost transparent, the renderer's pen, fill
  // and shadow saved around it.
  static void DrawLinkArea(cRenderer* renderer, const rRectD& rect, cHitTest* hit);
  // Draws one run of hyperlink text at (x, y): its rectangle into the
  // link's hit test, the glow, then the text.
  static void DrawLinkText(cComplexText& doc, rHyperLink* link, const struct rTextView& text, double x, double y,
                           cHitTest* hit);

  double mX = 0;
  double mY = 0;
  double mWidth = -1.0;
  double mHeight = -1.0;
};

// Space box kinds.
constexpr uint8_t cnSpaceVertical = 18;
constexpr uint8_t cnSpaceBlanks = 19;
constexpr uint8_t cnSpaceBlanks2 = 20;

// A vertical space of `count` lines of the document's font. It draws
// nothing, on any page, so it keeps no page of its own.
class cBoxSpace : public cLayoutBox {
 public:
  cBoxSpace(uint8_t kind, int32_t count) : mCount(count), mKind(kind) {}
  bool Format(cComplexText& doc, cHyperLinks* links) override;
  void Paginate(cComplexText& doc, double& total_y, double& page_y, double page_height, int32_t& page) override;
  double DrawReach() const override;
  bool IsSpacing() const override { return true; }

  int32_t mCount = 0;
  uint8_t mKind = cnSpaceVertical;
  bool mTakesRoom = true;
};

// Page entries of one mixed-style box: where each page segment begins.
struct rPageEntry {
  rPageEntry* next = nullptr;
  int32_t page = 0;
  double offset = 0;  // document y at which the page begins
  const rTextBit* first = nullptr;
};

class cPagination : public cArrayOf<rPageEntry, 1> {
 public:
  cPagination() : cArrayOf<rPageEntry, 1>(5) {}
};

// A one-line string (the labels of tag tables).
class cBoxString : public cLayoutBox {
 public:
  // Takes the text over (the variable is empty afterwards).
  explicit cBoxString(std::string& text);
  bool Format(cComplexText& doc, cHyperLinks* links) override;
  bool Layout(cComplexText& doc, cHyperLinks* links, double width) override;
  void Render(cComplexText& doc, uint8_t flags, double x, double y, cHitTest* hit) override;
  void Paginate(cComplexText& doc, double& total_y, double& page_y, double page_height, int32_t& page) override;
  void RenderPage(cComplexText& doc, int32_t page, double x, double y, uint8_t flags, cHitTest* hit) override;
  void Forget() override { mLink = nullptr; }

  rHyperLink* mLink = nullptr;
  std::string mText;
  int32_t mPage = 0;
  double mPageOffset = 0;
};

// A paragraph of mixed styles: measures its runs, breaks them into lines by
// words, aligns the lines, places every run, records hyperlinks, draws with
// the link glow and splits itself into pages between lines.
class cBoxComplex : public cLayoutBox {
 public:
  // Takes the runs over (the variable is nil afterwards); the box holds
  // them itself, its first run included.
  explicit cBoxComplex(std::unique_ptr<cTextBits>& runs);
  ~cBoxComplex() override;
  bool Format(cComplexText& doc, cHyperLinks* links) override;
  bool Layout(cComplexText& doc, cHyperLinks* links, double width) override;
  void Render(cComplexText& doc, uint8_t flags, double x, double y, cHitTest* hit) override;
  void Paginate(cComplexText& doc, double& total_y, double& page_y, double page_height, int32_t& page) override;
  void RenderPage(cComplexText& doc, int32_t page, double x, double y, uint8_t flags, cHitTest* hit) override;
  void Forget() override;
  double DrawReach() const override;

  cTextBits* Runs() { return &mRuns; }
  const cTextBits* Runs() const { return &mRuns; }
  cPagination* Pages() const { return mPagination.get(); }

 protected:
  // Draws one visible text run at (x, y); the page offset is already in y.
  void DrawRun(cComplexText& doc, const rTextBit& run, uint8_t flags, double x, double y, cHitTest* hit);

  cTextBits mRuns;
  std::unique_ptr<cPagination> mPagination;
};

// A paragraph in one style (its style switches stand before and after it as
// layout entries). It is laid out and drawn as a mixed-style paragraph.
class cBoxParagraph : public cBoxComplex {
 public:
  explicit cBoxParagraph(std::unique_ptr<cTextBits>& runs) : cBoxComplex(runs) {}
};

class cLayoutEntries;
// Lays a list of layout entries out to the width, one below the other from
// y 0: boxes with `Layout` (false raises 287 `error`), spacing boxes that
// take room placed, style switches previewed. Answers the widest box and
// the total height. With `first`, the walk starts at that entry and goes
// on below the given widest and height (an appended tail).
void layout_entries(cComplexText& doc, cHyperLinks* links, cLayoutEntries* entries, double width, const char* error,
                    double& widest, double& height, rLayoutEntry* first = nullptr);

// The part of the document's plane that can show on the document's
// renderer: the surface within the clip bounds, mapped back through the
// transformation (the origin included), widened by a margin for glows,
// italics and lines.
struct rDrawArea complex_text_draw_area(cComplexText& doc);

// The filter of hyperlink glyphs: inverted, one channel kept by the link's
// state (red hover, green pressed, blue otherwise), lightened and blurred.
void complex_text_link_glow(cBitmap* layer, bool& keep, void* user);
