// cComplexText: parsing, the stages of the document and the font state it
// saves and restores around every stage.
#include "qlm_complex_text.h"

#include <cmath>

#include "qlm_base_codes.h"
#include "qlm_base_util.h"
#include "qlm_encoding.h"
#include "qlm_font.h"
#include "qlm_renderer.h"
#include "qlm_renderer_hittest.h"

// ---------------------------------------------------------------------------
// Boxes shared by every stage.

rHyperLink::rHyperLink() = default;
rHyperLink::~rHyperLink() = default;

rHyperLink* cHyperLinks::Append(const cPropertyString* href) {
  rHyperLink* link = cArrayOf<rHyperLink, 1>::Append(1);
  if (link == nullptr) raise_base_error(errNEnoughMem, "{not links.Append}");
  link->href = href;
  link->hit = std::make_unique<cHitTest>();
  return link;
}

bool cLayoutBox::Format(cComplexText&, cHyperLinks*) { return true; }
bool cLayoutBox::Layout(cComplexText&, cHyperLinks*, double) { return true; }
void cLayoutBox::Render(cComplexText&, uint8_t, double, double, cHitTest*) {}
void cLayoutBox::Paginate(cComplexText&, double&, double&, double, int32_t&) {}
void cLayoutBox::RenderPage(cComplexText&, int32_t, double, double, uint8_t, cHitTest*) {}
double cLayoutBox::DrawReach() const { return INFINITY; }

rHyperLink* cLayoutBox::MakeLink(const cPropertyString* href, cHyperLinks* links) {
  return href != nullptr && links != nullptr ? links->Append(href) : nullptr;
}

bool cBoxSpace::Format(cComplexText& doc, cHyperLinks*) {
  switch (mKind) {
    case cnSpaceVertical:
      mWidth = 0;
      mHeight = doc.FontHeight() * mCount;
      return true;
    case cnSpaceBlanks:
    case cnSpaceBlanks2: {
      rRectD b;
      doc.SyncFont();
      if (doc.mRenderer != nullptr) doc.mRenderer->TextBounds(" ", b);
      mWidth = (b.x2 - b.x1) * mCount;
      mHeight = b.y2 - b.y1;
      return true;
    }
    default: return false;
  }
}

// A space box draws nothing.
double cBoxSpace::DrawReach() const { return -INFINITY; }

void cBoxSpace::Paginate(cComplexText&, double& total_y, double& page_y, double, int32_t&) {
  total_y += mHeight;
  page_y += mHeight;
}

// ---------------------------------------------------------------------------
// The document.

namespace {

// Saves the font's size, name and style, the renderer's font and its text
// alignment, and puts them back when it ends (also when an error leaves).
class cFontStateGuard {
 public:
  cFontStateGuard(cRenderer* renderer, cFont* font) : mRenderer(renderer), mFont(font) {
    if (mFont != nullptr) {
      mSize = mFont->GetSize();
      mName = mFont->GetName();
      mStyle = mFont->GetStyle();
    }
    if (mRenderer != nullptr) {
      mRendererFont = mRenderer->GetFont();
      mAlignX = mRenderer->GetTextAlignX();
      mAlignY = mRenderer->GetTextAlignY();
    }
  }
  ~cFontStateGuard() {
    try {
      if (mFont != nullptr) {
        if (!float_equal(mFont->GetSize(), mSize)) mFont->SetSize(mSize);
        if (mFont->GetName() != mName) mFont->SetName(mName);
        if (mFont->GetStyle() != mStyle) mFont->SetStyle(mStyle);
      }
      if (mRenderer != nullptr) {
        if (mRenderer->GetFont() != mRendererFont && mRendererFont != nullptr) mRenderer->SetFont(mRendererFont);
        mRenderer->SetTextAlign(mAlignX, mAlignY);
      }
    } catch (...) {
    }
  }
  cFontStateGuard(const cFontStateGuard&) = delete;
  cFontStateGuard& operator=(const cFontStateGuard&) = delete;

 private:
  cRenderer* mRenderer = nullptr;
  cFont* mFont = nullptr;
  double mSize = 0;
  std::string mName;
  uint8_t mStyle = 0;
  cFont* mRendererFont = nullptr;
  eAlign mAlignX = ALIGN_LEFT;
  eAlign mAlignY = ALIGN_TOP;
};

}  // namespace

cComplexText::cComplexText() = default;

cComplexText::~cComplexText() {
  // The entries hold pointers into the token list and the hyperlinks: free
  // them before the parser.
  mBits.reset();
  mEntries.reset();
  mLinks.reset();
  mScopes.reset();
  mVars.reset();
  mParser.reset();
}

void cComplexText::DropFormat() {
  DropDrawMarks();
  mEntries.reset();
  mLinks.reset();
  mLinkIterator = nullptr;
  mWidestLine = -1.0;
  mHeight = -1.0;
  mLayoutWidth = 0;
  mPageHeight = 0;
  mPageCount = 0;
  mHasFormat = false;
  mHasLayout = false;
  mHasPages = false;
}

bool cComplexText::SetText(const std::string& markup) {
  return log_and_fail(this, false, [&] {
    cEncoding enc;
    if (enc.AttachCharString(markup, 0) < 0) raise_base_error(errQLMCall, "{not enc.AttachCharString(str)}");
    std::unique_ptr<cParserVormCode> parser = cParserVormCode::Construct(false);
    if (parser == nullptr) raise_base_error(errNEnoughMem, "{cParserVormCode.Construct}");
    if (!parser->OpenEncoding(&enc, nullptr))
      raise_base_error(errQLMCall, "{not cParserVormCode.OpenEncoding(enc)}", parser->LastErrorText());
    DropFormat();
    // Open scopes and variables point into the old tokens.
    mCurrentScope = nullptr;
    mCurrentLink = nullptr;
    if (mScopes) mScopes->Clear();
    if (mVars) mVars->RemoveAllVars();
    mParser = std::move(parser);
    mAppended.clear();
    mHasText = true;
    return true;
  });
}

void cComplexText::ClearFormat() { DropFormat(); }

void cComplexText::ResetFormatting() {
  mCurrentScope = nullptr;
  mCurrentLink = nullptr;
  mCurrentSpacing = mDefaultSpacing;
  mCurrentAlignX = mDefaultAlignX;
  mCurrentAlignY = mDefaultAlignY;
  LoadFontState();
  mStrikeOut = false;
  mUnderline = false;
  mWordsOnly = false;
  mFlat = true;
  mTextColor = 0xFF000000u;
  mTextBack = 0;
  mPenColor = 0xFF000000u;
  mFillColor = 0xFFFFFFFFu;
  for (bool& d : mDefaults) d = true;
}

bool cComplexText::FormatText(cRenderer* renderer, cFont* font, eAlign align_x, eAlign align_y, double spacing,
                              bool force_ascii) {
  DropFormat();
  const bool ok = log_and_fail(this, false, [&] {
    if (!mHasText) raise_condition_error(errPreCondition, "{not mHasText}");
    if (renderer == nullptr) raise_condition_error(errPreCondition, "{kvn = NIL}");
    if (font == nullptr) raise_condition_error(errPreCondition, "{fonts = NIL}");
    mRenderer = renderer;
    mFont = font;
    cFontStateGuard guard(renderer, font);
    renderer->SetFont(font);
    if (!mScopes) mScopes = std::make_unique<cPropertiesStack>();
    mScopes->Clear();
    if (!mVars) mVars = std::make_unique<cVarDecls>();
    mVars->RemoveAllVars();
    mEntries = std::make_unique<cLayoutEntries>();
    mLinks = std::make_unique<cHyperLinks>();
    mForceAscii = force_ascii;
    mDefaultSpacing = std::isfinite(spacing) ? spacing : 0;
    mDefaultAlignX = align_x;
    mDefaultAlignY = align_y;
    ResetFormatting();
    mBits.reset();
    const rTCToken* cursor = mParser != nullptr ? mParser->FirstToken() : nullptr;
    if (cursor != nullptr) Interpret(cursor, nullptr, mLinks.get(), mEntries.get());
    // Texts appended before this format are walked again after the first.
    for (const auto& appended : mAppended) {
      mScopes->Clear();
      mCurrentScope = nullptr;
      cursor = appended->FirstToken();
      if (cursor != nullptr) Interpret(cursor, nullptr, mLinks.get(), mEntries.get());
    }
    mEndState = SaveFormatState();
    mHasFormat = true;
    return true;
  });
  if (!ok) {
    mBits.reset();
    DropFormat();
  }
  return ok;
}

bool cComplexText::LayoutText(double width) {
  if (!(width >= 0) || !std::isfinite(width)) return mHasLayout;
  mHasLayout = false;
  mHasPages = false;
  mPageCount = 0;
  mWidestLine = -1.0;
  mHeight = -1.0;
  mLayoutWidth = 0;
  mPageHeight = 0;
  mLinkIterator = nullptr;
  DropDrawMarks();
  return log_and_fail(this, false, [&] {
    if (!mHasFormat) raise_condition_error(errPreCondition, "{not mHasFormat}");
    cFontStateGuard guard(mRenderer, mFont);
    if (mRenderer != nullptr && mFont != nullptr) mRenderer->SetFont(mFont);
    ResetFormatting();
    mLinks->Clear();
    double widest = 0;
    double y = 0;
    layout_entries(*this, mLinks.get(), mEntries.get(), width, "{not box.span.Layout(Self,width)}", widest, y);
    mWidestLine = widest;
    mHeight = y;
    mLayoutWidth = width;
    mPageHeight = 0;
    mHasLayout = true;
    return true;
  });
}

cComplexText::rFormatState cComplexText::SaveFormatState() const {
  rFormatState f;
  f.link = mCurrentLink;
  f.spacing = mCurrentSpacing;
  f.align_x = mCurrentAlignX;
  f.align_y = mCurrentAlignY;
  f.font_name = mFontName;
  f.font_size = mFontSize;
  f.font_style = mFontStyle;
  f.strike_out = mStrikeOut;
  f.underline = mUnderline;
  f.words_only = mWordsOnly;
  f.flat = mFlat;
  f.text_color = mTextColor;
  f.text_back = mTextBack;
  f.pen_color = mPenColor;
  f.fill_color = mFillColor;
  std::copy(std::begin(mDefaults), std::end(mDefaults), std::begin(f.defaults));
  return f;
}

void cComplexText::RestoreFormatState(const rFormatState& f) {
  mCurrentScope = nullptr;
  mCurrentLink = f.link;
  mCurrentSpacing = f.spacing;
  mCurrentAlignX = f.align_x;
  mCurrentAlignY = f.align_y;
  mFontName = f.font_name;
  mFontSize = f.font_size;
  mFontStyle = f.font_style;
  mFontPending = true;
  mStrikeOut = f.strike_out;
  mUnderline = f.underline;
  mWordsOnly = f.words_only;
  mFlat = f.flat;
  mTextColor = f.text_color;
  mTextBack = f.text_back;
  mPenColor = f.pen_color;
  mFillColor = f.fill_color;
  std::copy(std::begin(f.defaults), std::end(f.defaults), std::begin(mDefaults));
}

bool cComplexText::AppendText(const std::string& markup) {
  return log_and_fail(this, false, [&] {
    if (!mHasFormat) raise_condition_error(errPreCondition, "{not mHasFormat}");
    if (mRenderer == nullptr) raise_condition_error(errPreCondition, "{kvn = NIL}");
    if (mFont == nullptr) raise_condition_error(errPreCondition, "{fonts = NIL}");
    cEncoding enc;
    if (enc.AttachCharString(markup, 0) < 0) raise_base_error(errQLMCall, "{not enc.AttachCharString(str)}");
    std::unique_ptr<cParserVormCode> parser = cParserVormCode::Construct(false);
    if (parser == nullptr) raise_base_error(errNEnoughMem, "{cParserVormCode.Construct}");
    if (!parser->OpenEncoding(&enc, nullptr))
      raise_base_error(errQLMCall, "{not cParserVormCode.OpenEncoding(enc)}", parser->LastErrorText());
    cFontStateGuard guard(mRenderer, mFont);
    mRenderer->SetFont(mFont);
    rLayoutEntry* const last = mEntries->Last();
    const uint32_t links_before = mLinks->Count();
    mPageCount = 0;
    mHasPages = false;
    mPageHeight = 0;
    mLinkIterator = nullptr;
    const rTCToken* cursor = parser->FirstToken();
    mAppended.push_back(std::move(parser));
    // The earlier text's open scopes end with it: their closings lie there.
    if (mScopes) mScopes->Clear();
    RestoreFormatState(mEndState);
    mBits.reset();
    try {
      if (cursor != nullptr) Interpret(cursor, nullptr, mLinks.get(), mEntries.get());
    } catch (...) {
      // Half a walk would leave entries the state does not describe: the
      // new entries and records go, the document stays as it was.
      mBits.reset();
      DropDrawMarks();
      while (mEntries->Count() > 0 && mEntries->Last() != last) mEntries->RemoveLast(1);
      if (mLinks->Count() > links_before) mLinks->RemoveLast(mLinks->Count() - links_before);
      mAppended.pop_back();
      throw;
    }
    const rFormatState end = SaveFormatState();
    rLayoutEntry* const first = last != nullptr ? last->next : mEntries->First();
    if (mHasLayout && first != nullptr) {
      // Records the format made are made again by the layout, as a whole
      // layout clears them first.
      if (mLinks->Count() > links_before) mLinks->RemoveLast(mLinks->Count() - links_before);
      RestoreFormatState(mEndState);
      double widest = std::max(mWidestLine, 0.0), y = std::max(mHeight, 0.0);
      mHasLayout = false;
      layout_entries(*this, mLinks.get(), mEntries.get(), mLayoutWidth, "{not box.span.Layout(Self,width)}", widest, y,
                     first);
      mWidestLine = widest;
      mHeight = y;
      mHasLayout = true;
    }
    mEndState = end;
    return true;
  });
}

namespace {

bool can_draw(cRenderer* renderer) { return renderer != nullptr && renderer->IsAttached(); }

}  // namespace

cComplexText::rDrawKey cComplexText::MakeDrawKey(cRenderer* r) const {
  rDrawKey k;
  k.font = mFont;
  k.font_name = mFontName;
  k.font_size = mFontSize;
  k.font_style = mFontStyle;
  k.text_color = r->GetTextColor();
  k.text_back = r->IsTextBack();
  k.text_back_color = r->GetTextBackColor();
  k.pen_on = r->IsPenOn();
  k.pen_solid = r->IsPenSolid();
  k.pen_color = r->GetPenColor();
  k.fill_on = r->IsFillOn();
  k.fill_solid = r->IsFillSolid();
  k.fill_color = r->GetFillColor();
  k.strike_out = r->IsStrikeOut();
  k.strike_style = r->GetStrikeOutStyle();
  k.underline = r->IsUnderline();
  k.underline_style = r->GetUnderlineStyle();
  k.render_mode = r->GetTextRenderMode();
  return k;
}

cComplexText::rDrawMark cComplexText::MakeDrawMark(rLayoutEntry* entry, double reach) const {
  rDrawMark m;
  m.entry = entry;
  m.reach = reach;
  m.state = SaveFormatState();
  m.font_pending = mFontPending;
  m.colors = mAppliedColors;
  cRenderer* r = mRenderer;
  m.strike_out = r->IsStrikeOut();
  m.strike_style = r->GetStrikeOutStyle();
  m.underline = r->IsUnderline();
  m.underline_style = r->GetUnderlineStyle();
  m.render_mode = r->GetTextRenderMode();
  return m;
}

void cComplexText::RestoreDrawMark(const rDrawMark& m) {
  RestoreFormatState(m.state);
  mFontPending = m.font_pending;
  cRenderer* r = mRenderer;
  r->SetStrikeOut(m.strike_out, m.strike_style);
  r->SetUnderline(m.underline, m.underline_style);
  r->SetTextRenderMode(m.render_mode);
  // The colours the skipped switches set, in the slots' order (each slot
  // is a setting of its own).
  static constexpr uint8_t ids[4] = {cnPropTextColor, cnPropTextBack, cnPropPenColor, cnPropFillColor};
  for (int i = 0; i < 4; ++i)
    if ((m.colors.set & (1u << i)) != 0) ApplyColor(ids[i], m.colors.color[i]);
}

bool cComplexText::Draw(cRenderer* renderer, bool ready, const char* not_ready,
                        const std::function<void(cLayoutBox&)>& draw_box, const double* origin_y) {
  return log_and_fail(this, false, [&] {
    if (!ready) raise_condition_error(errPreCondition, not_ready);
    if (!can_draw(renderer)) raise_condition_error(errPreCondition, "{not kvn.DocRendering}");
    mRenderer = renderer;
    mFont = renderer->GetFont();
    cFontStateGuard guard(renderer, mFont);
    ResetFormatting();
    mAppliedColors = {};
    mDrawSynced = false;
    mDrawNormalised = false;
    // Marks recorded from other starting settings describe another walk
    // (and the style switches' captured values came from it).
    const rDrawKey key = MakeDrawKey(renderer);
    if (!(key == mDrawKey)) {
      DropDrawMarks();
      mDrawKey = key;
    }
    // The renderer's transformation and clipping do not change while the
    // document draws: the visible area is worked out once.
    const rDrawArea area = complex_text_draw_area(*this);
    mDrawArea = &area;
    struct Forget {
      const rDrawArea*& area;
      ~Forget() { area = nullptr; }
    } forget{mDrawArea};
    rLayoutEntry* e = mEntries->First();
    size_t index = 0;
    if (origin_y != nullptr && !area.all && !mDrawMarks.empty()) {
      // The last mark above which no entry can show: the walk up to it
      // draws nothing, so it starts there in the state recorded there.
      const double limit = area.y1 - *origin_y;
      const double margin = 1.0 + 1e-9 * (std::abs(area.y1) + std::abs(*origin_y));
      const auto after = std::partition_point(mDrawMarks.begin(), mDrawMarks.end(),
                                              [&](const rDrawMark& m) { return m.reach + margin < limit; });
      if (after != mDrawMarks.begin()) {
        const rDrawMark& start = *(after - 1);
        RestoreDrawMark(start);
        e = start.entry;
        index = size_t(after - 1 - mDrawMarks.begin());
      }
    }
    for (; e != nullptr; e = e->next, ++index) {
      if (index == mDrawMarks.size() && !mDrawSynced) {
        double reach = -INFINITY;
        if (index > 0) {
          const rDrawMark& prev = mDrawMarks.back();
          const rLayoutEntry* p = prev.entry;
          const double box = p->Kind() == cnEntryBox && p->box != nullptr ? p->box->DrawReach() : -INFINITY;
          reach = std::isnan(box) ? INFINITY : std::max(prev.reach, box);
        }
        mDrawMarks.push_back(MakeDrawMark(e, reach));
      }
      if (e->Kind() == cnEntryStyle)
        ApplyStyles(e->styles.get());
      else if (e->Kind() == cnEntryBox && e->box != nullptr)
        draw_box(*e->box);
    }
    // A font that made something else of a request makes the walk depend
    // on what was drawn: the captured values of this walk may differ from a
    // walk that draws nothing.
    if (mDrawNormalised) DropDrawMarks();
    return true;
  });
}

bool cComplexText::RenderText(cRenderer* renderer, uint8_t flags, double x, double y, cHitTest* hit) {
  return Draw(
      renderer, mHasLayout, "{not mHasLayout}", [&](cLayoutBox& box) { box.Render(*this, flags, x, y, hit); }, &y);
}

bool cComplexText::Paginate(double height) {
  return log_and_fail(this, false, [&] {
    if (!mHasLayout) raise_condition_error(errPreCondition, "{not mHasLayout}");
    if (!(height > 0)) raise_condition_error(errPreCondition, "{height<=0}");
    mHasPages = false;
    cFontStateGuard guard(mRenderer, mFont);
    ResetFormatting();
    double total_y = 0;
    double page_y = 0;
    int32_t page = 1;
    for (rLayoutEntry* e = mEntries->First(); e != nullptr; e = e->next) {
      if (e->Kind() == cnEntryStyle)
        PreviewStyles(e->styles.get());
      else if (e->box != nullptr)
        e->box->Paginate(*this, total_y, page_y, height, page);
    }
    mPageHeight = height;
    mPageCount = page;
    mHasPages = true;
    return true;
  });
}

bool cComplexText::RenderPage(cRenderer* renderer, int32_t page, double x, double y, uint8_t flags, cHitTest* hit) {
  return Draw(renderer, mHasPages, "{not mHasPages}",
              [&](cLayoutBox& box) { box.RenderPage(*this, page, x, y, flags, hit); });
}

rHyperLink* cComplexText::FirstLink() {
  mLinkIterator = mHasLayout && mLinks != nullptr ? mLinks->First() : nullptr;
  return mLinkIterator;
}

rHyperLink* cComplexText::NextLink() {
  if (mLinkIterator != nullptr) mLinkIterator = mLinkIterator->next;
  return mLinkIterator;
}
