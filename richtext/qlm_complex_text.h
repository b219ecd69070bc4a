// cComplexText: the rich-text document. It parses a VormCode mark-up text,
// formats it into layout entries (boxes of styled text runs, spacing boxes
// and style switches) by walking the tokens with a renderer and a font,
// lays them out to a width, draws them, paginates them and lists their
// hyperlinks.
//
// Errors follow the log-and-fail convention: every public operation catches
// what is raised inside it, appends it to the document's own exception log
// and answers false (or nil).
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qlm_base_object.h"
#include "qlm_complex_text_props.h"
#include "qlm_layout_boxes.h"
#include "qlm_parser_vormcode.h"
#include "qlm_renderer_types.h"
#include "qlm_text_bits.h"

class cRenderer;
class cFont;

// The most "~<" scopes open at once: a deeper scope fails the format with
// 287 "{scopes.depth}" instead of growing without bound on hostile mark-up.
constexpr uint32_t cnMaxOpenScopes = 100000;
// The largest count an insertable (nbsp, sp, p) adds; larger counts are
// clamped, negative ones count as 0.
constexpr int32_t cnMaxInsertableCount = 256;
// The most variable references followed for one value: a chain longer than
// this (a cycle) makes the property absent.
constexpr int32_t cnMaxVarHops = 64;

// Default-flag slots of the formatting state.
constexpr int cnDefStrikeOut = 0;
constexpr int cnDefUnderline = 1;
constexpr int cnDefWordsOnly = 2;
constexpr int cnDefFlat = 3;  // shared by flat and outln
constexpr int cnDefTextColor = 4;
constexpr int cnDefTextBack = 5;
constexpr int cnDefPenColor = 6;
constexpr int cnDefFillColor = 7;

// The part of the document's plane that can show while drawing (document
// units); `all` when nothing is culled.
struct rDrawArea {
  bool all = true;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool Shows(double x, double y, double w, double h) const {
    if (all) return true;
    return x + w >= x1 && x <= x2 && y + h >= y1 && y <= y2;
  }
};

class cComplexText : public cException {
 public:
  cComplexText();
  ~cComplexText() override;

  // Parses the mark-up; on success the format is dropped and the new tokens
  // replace the old ones. A failed parse keeps the previous document.
  bool SetText(const std::string& markup);
  void ClearFormat();
  bool FormatText(cRenderer* renderer, cFont* font, eAlign align_x, eAlign align_y, double spacing, bool force_ascii);

  // Lays the entries out to a width (0: lines break only at line breaks).
  // A negative or non-finite width changes nothing and answers the earlier
  // result.
  bool LayoutText(double width);
  // Adds mark-up at the end of a formatted document: it is parsed on its
  // own, walked from the formatting state the document ends in, and, when
  // the document is laid out, laid out below it at the same width. Only
  // the new part is formatted and laid out; pages are dropped. Scopes the
  // earlier text left open stay in effect but cannot be closed by the
  // appended text. A parse error, or a document not formatted, changes
  // nothing and answers false.
  bool AppendText(const std::string& markup);
  // Draws the laid-out document with its origin at (x, y); flags: 2 runs
  // outside hyperlinks, 4 hyperlink runs, 8 both.
  bool RenderText(cRenderer* renderer, uint8_t flags, double x, double y, cHitTest* hit);
  bool Paginate(double height);
  int32_t PageCount() const { return mHasPages ? mPageCount : 0; }
  bool RenderPage(cRenderer* renderer, int32_t page, double x, double y, uint8_t flags, cHitTest* hit);

  bool HasText() const { return mHasText; }
  bool HasLayout() const { return mHasLayout; }
  bool HasPages() const { return mHasPages; }
  double GetLayoutWidth() const { return mLayoutWidth; }
  // The larger of the widest line and the layout width.
  double GetWidth() const { return std::max(mWidestLine, mLayoutWidth); }
  double GetLineWidth() const { return mWidestLine < 0 ? 0 : mWidestLine; }
  double GetHeight() const { return mHeight < 0 ? 0 : mHeight; }
  // The hyperlink records after layout: nil before it.
  rHyperLink* FirstLink();
  rHyperLink* NextLink();
  bool HasFormat() const { return mHasFormat; }
  cParserVormCode* Parser() const { return mParser.get(); }
  cLayoutEntries* Entries() const { return mEntries.get(); }
  cHyperLinks* Links() const { return mLinks.get(); }

  // --- The mark-up walk -----------------------------------------------------
  // Walks from the cursor to the end token (nil: to the end of the list),
  // leaving the cursor on the last token handled.
  void Interpret(const rTCToken*& cursor, const rTCToken* end, cHyperLinks* links, cLayoutEntries* entries);
  std::unique_ptr<cPropertyEntries> ParseTextProperties(const rTCProperty* first);
  std::unique_ptr<cPropertyEntries> ParseInlineProperties(const rTCProperty* first,
                                                          std::unique_ptr<cPropertyEntries>& restore);
  bool ParseFontSize(const rTCProperty* entry, double& size, uint8_t& mode, uint8_t& unit, double& given);
  bool ValueText(const rTCProperty* entry, std::string& result);
  bool ValueInt(const rTCProperty* entry, int32_t& result);
  bool ValueFloat(const rTCProperty* entry, double& result);
  bool ValueBool(const rTCProperty* entry, bool& result);
  bool ValueColor(const rTCProperty* entry, uint32_t& result);
  bool IsNoBreakInsertable(const rTCT_INSERTABLE* insertable, int32_t& count);
  bool IsSpaceInsertable(const rTCT_INSERTABLE* insertable, int32_t& count);
  bool IsParagraphInsertable(const rTCT_INSERTABLE* insertable, int32_t& count);
  void FlushPendingStyles();
  // Builds the tag table of a "~[tags]" structure up to its closing (the end
  // token) and appends it to the entries; the cursor is left on the end.
  void BuildTagTable(const rTCToken*& cursor, const rTCToken* end, cHyperLinks* links, cLayoutEntries* entries);
  // A width text: "auto", a text ending in digits and "%", or a
  // number in pixels (unit suffix "pt", "mm" or "ch" for points,
  // millimetres or blank widths). False changes nothing.
  bool ParseTagWidth(const rTCProperty* entry, uint8_t& mode, double& value);
  // A style text: "auto", or prefix "{" counter "}" suffix with a
  // counter of a number or a letter and an optional "+" or "-" step. False
  // changes nothing.
  bool ParseTagStyle(const rTCProperty* entry, uint8_t& style, int32_t& start, int32_t& step, std::string& prefix,
                     std::string& suffix);
  // Hands a finished paragraph's runs to the layout (or to the paragraph
  // sink when one is set).
  void FinishParagraph(std::unique_ptr<cTextBits>& bits, cHyperLinks* links, cLayoutEntries* entries);

  // Previews every entry in list order (formatting and layout); a false
  // preview raises 287 `text`.
  void PreviewStyles(cPropertyEntries* styles, const char* text = "{not pe.prop.Preview(Self)}");
  // Draws a style switch: entries still at the document's default first
  // capture the renderer's value into their partner, then every entry is
  // applied. The font itself follows at the next run drawn (SyncFont).
  void ApplyStyles(cPropertyEntries* styles);

  // --- The font as formatting sees it ---------------------------------------
  // Previews change the font's name, size and style here first; the font
  // itself follows only when it is measured or drawn with (SyncFont), so a
  // walk through many style scopes does not re-create the font for each.
  void LoadFontState();
  void SyncFont();
  std::string FontName() const { return mFontName; }
  double FontSize() const { return mFontSize; }
  double FontSizePt() const;
  uint8_t FontStyle() const { return mFontStyle; }
  void SetFontName(const std::string& name);
  void SetFontSize(double pixels);
  void SetFontSizePt(double points);
  void SetFontStyle(uint8_t style);
  // The font's height in its current state (synchronises the font).
  double FontHeight();

  // Drawing skips text runs wholly outside the renderer's visible area
  // (tests turn it off to compare pictures).
  bool mCullLines = true;
  // The visible area of the drawing in progress, worked out once per
  // drawing rather than once per box (nil outside a drawing).
  const rDrawArea* mDrawArea = nullptr;

  // The colours the style switches of the drawing in progress set on the
  // renderer (text, text back, pen, fill; 0 is off for the last three): a
  // drawing that starts below the document's start puts them back.
  struct rAppliedColors {
    uint8_t set = 0;  // bit i: colour[i] was set
    uint32_t color[4] = {};
  };
  rAppliedColors mAppliedColors;
  // Sets one colour property's value on the renderer, as its Apply does,
  // and notes it in mAppliedColors.
  void ApplyColor(uint8_t id, uint32_t color);

  // Tests: when set, finished paragraphs go here instead of the layout.
  std::function<void(std::unique_ptr<cTextBits>&)> mParagraphSink;

  // --- Borrowed objects and the formatting state -----------------------------
  cRenderer* mRenderer = nullptr;
  cFont* mFont = nullptr;
  bool mForceAscii = true;
  double mDefaultSpacing = 0;
  uint8_t mDefaultAlignX = ALIGN_LEFT;
  uint8_t mDefaultAlignY = ALIGN_TOP;

  rPropertyScope* mCurrentScope = nullptr;
  const cPropertyString* mCurrentLink = nullptr;
  double mCurrentSpacing = 0;
  uint8_t mCurrentAlignX = ALIGN_LEFT;
  uint8_t mCurrentAlignY = ALIGN_TOP;
  bool mStrikeOut = false;
  bool mUnderline = false;
  bool mWordsOnly = false;
  bool mFlat = true;
  uint32_t mTextColor = 0xFF000000u;
  uint32_t mTextBack = 0;
  uint32_t mPenColor = 0xFF000000u;
  uint32_t mFillColor = 0xFFFFFFFFu;
  bool mDefaults[8] = {true, true, true, true, true, true, true, true};

 protected:
  // Drops the layout entries, the hyperlinks and every result after them.
  void DropFormat();
  // Sets the formatting state to the document's defaults (FormatText's
  // arguments, the font's height).
  void ResetFormatting();
  // The drawing stages: checks the stage (`ready`, else 279 `not_ready`) and
  // the renderer, sets the font state up, applies style entries and hands
  // every box to `draw_box`.
  // With `origin_y` (drawing the whole document at that y), the walk starts
  // at the last draw mark above the visible area instead of the first
  // entry.
  bool Draw(cRenderer* renderer, bool ready, const char* not_ready, const std::function<void(cLayoutBox&)>& draw_box,
            const double* origin_y = nullptr);
  // The paragraph assembly: words, the box and its style switches.
  void AssembleParagraph(std::unique_ptr<cTextBits>& bits, cHyperLinks* links, cLayoutEntries* entries);

  std::unique_ptr<cParserVormCode> mParser;
  // The token lists of appended texts (the entries point into them).
  std::vector<std::unique_ptr<cParserVormCode>> mAppended;
  // The formatting state at the end of the document, where an appended
  // text's walk and layout start.
  struct rFormatState {
    const cPropertyString* link = nullptr;
    double spacing = 0;
    uint8_t align_x = ALIGN_LEFT, align_y = ALIGN_TOP;
    std::string font_name;
    double font_size = 0;
    uint8_t font_style = 0;
    bool strike_out = false, underline = false, words_only = false, flat = true;
    uint32_t text_color = 0, text_back = 0, pen_color = 0, fill_color = 0;
    bool defaults[8] = {};
  };
  rFormatState SaveFormatState() const;
  void RestoreFormatState(const rFormatState& state);
  rFormatState mEndState;

  // Draw marks: the state the draw walk has before each top-level entry, so
  // that a drawing whose visible area starts far below the document's start
  // starts there instead of applying every style switch above it. They are
  // recorded while a walk has not yet synchronised the font (the state of a
  // walk over entries that draw nothing) and are valid for drawings that
  // start from the same renderer and font settings (the key). Formatting,
  // layout and a failed append drop them; an append keeps them, as it
  // changes no entry before it.
  struct rDrawKey {
    const cFont* font = nullptr;
    std::string font_name;
    double font_size = 0;
    uint8_t font_style = 0;
    uint32_t text_color = 0, text_back_color = 0, pen_color = 0, fill_color = 0;
    bool text_back = false, pen_on = false, pen_solid = false, fill_on = false, fill_solid = false;
    uint8_t strike_out = 0, strike_style = 0, underline = 0, underline_style = 0, render_mode = 0;
    bool operator==(const rDrawKey&) const = default;
  };
  struct rDrawMark {
    rLayoutEntry* entry = nullptr;  // the entry the walk draws next
    // The lowest document y at which a run of an earlier entry can show
    // (the band run_shows tests; +infinity when unknown).
    double reach = 0;
    rFormatState state;
    bool font_pending = false;
    rAppliedColors colors;
    uint8_t strike_out = 0, strike_style = 0, underline = 0, underline_style = 0, render_mode = 0;
  };
  rDrawKey MakeDrawKey(cRenderer* renderer) const;
  rDrawMark MakeDrawMark(rLayoutEntry* entry, double reach) const;
  void RestoreDrawMark(const rDrawMark& mark);
  void DropDrawMarks() { mDrawMarks.clear(); }
  std::vector<rDrawMark> mDrawMarks;
  rDrawKey mDrawKey;
  // Set by SyncFont while a drawing walks: that the font was synchronised,
  // and that this changed the document's font state (the font made
  // something else of the request).
  bool mDrawSynced = false;
  bool mDrawNormalised = false;
  bool mHasText = false;
  bool mHasFormat = false;
  bool mHasLayout = false;
  bool mHasPages = false;
  std::unique_ptr<cLayoutEntries> mEntries;
  std::unique_ptr<cHyperLinks> mLinks;
  double mLayoutWidth = 0;
  double mPageHeight = 0;
  double mWidestLine = -1.0;
  double mHeight = -1.0;
  int32_t mPageCount = 0;
  std::unique_ptr<cPropertiesStack> mScopes;
  std::unique_ptr<cVarDecls> mVars;
  rHyperLink* mLinkIterator = nullptr;

  std::string mFontName;
  double mFontSize = 0;
  uint8_t mFontStyle = 0;
  bool mFontPending = false;
  int32_t mTagDepth = 0;

 private:
  // The walk's paragraph in progress (nil between paragraphs).
  std::unique_ptr<cTextBits> mBits;
  void StartParagraph();
};
