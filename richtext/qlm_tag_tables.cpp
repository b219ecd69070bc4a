// Tag tables: building rows from the tokens of a "~[tags]" structure, the
// width and style texts, layout, drawing and pagination.
#include "qlm_tag_tables.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "qlm_base_codes.h"
#include "qlm_base_util.h"
#include "qlm_complex_text.h"
#include "qlm_platform_ui.h"
#include "qlm_renderer.h"

rTagRow::~rTagRow() = default;

std::string tag_label(uint8_t style, int64_t counter) {
  if (style == cnTagNumbers) return int_to_str(0, 0, counter);
  // Outside printable ASCII (control characters, NUL, negative codes, and
  // codes above 126) the label is "~".
  if (counter < 32 || counter > 126) return "~";
  return std::string(1, char(counter));
}

namespace {

int32_t saturate(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// Reads decimal digits from s at i; false when there is none. The value
// saturates at INT32_MAX.
bool read_digits(std::string_view s, size_t& i, int64_t& value) {
  const size_t from = i;
  value = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    value = std::min<int64_t>(value * 10 + (s[i] - '0'), INT32_MAX);
    ++i;
  }
  return i > from;
}

}  // namespace

bool cComplexText::ParseTagWidth(const rTCProperty* entry, uint8_t& mode, double& value) {
  if (entry == nullptr) return false;
  double number = 0;
  const rTCProperty* p = entry;
  for (int32_t hops = 0; p != nullptr && p->value.kind == ET_VAR && hops <= cnMaxVarHops; ++hops) {
    const std::string* name = p->value.String();
    const rVarDecl* d = mVars != nullptr && name != nullptr ? mVars->Find(*name) : nullptr;
    p = d != nullptr ? d->value : nullptr;
  }
  if (p == nullptr || p->value.kind == ET_VAR) return false;
  if (p->value.kind == ET_INTEGER || p->value.kind == ET_FLOAT) {
    if (!tblocks_property_float(p, number) || !std::isfinite(number)) return false;
    const std::string unit = entry->type != nullptr ? string_trim_upper(entry->type->name) : "";
    mode = unit == "PT"   ? cnTagWidthPoints
           : unit == "MM" ? cnTagWidthMillimetres
           : unit == "CH" ? cnTagWidthBlanks
                          : cnTagWidthPixels;
    value = number;
    return true;
  }
  std::string text;
  if (!tblocks_property_text(p, text)) return false;
  if (string_trim_upper(text) == "AUTO") {
    mode = cnTagWidthAuto;
    return true;
  }
  // Characters before the first digit are skipped, then digits, then "%" as
  // the last character.
  size_t i = 0;
  while (i < text.size() && !(text[i] >= '0' && text[i] <= '9')) ++i;
  const size_t from = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  if (i == from || i + 1 != text.size() || text[i] != '%') return false;
  mode = cnTagWidthPercent;
  value = string_to_float(std::string_view(text).substr(from, i - from), cnTypeRealInt64, 0);
  return true;
}

bool cComplexText::ParseTagStyle(const rTCProperty* entry, uint8_t& style, int32_t& start, int32_t& step,
                                 std::string& prefix, std::string& suffix) {
  std::string text;
  if (!ValueText(entry, text)) return false;
  if (string_trim_upper(text) == "AUTO") {
    style = cnTagMarkup;
    return true;
  }
  const size_t open = text.find('{');
  if (open == std::string::npos) return false;
  size_t i = open + 1;
  if (i >= text.size()) return false;
  uint8_t s = cnTagNumbers;
  int64_t first = 1;
  int64_t increment = 1;
  const char c = text[i];
  if (c >= '0' && c <= '9') {
    read_digits(text, i, first);
  } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
    s = cnTagLetters;
    first = static_cast<unsigned char>(c);
    ++i;
  } else {
    return false;
  }
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    const bool down = text[i] == '-';
    ++i;
    int64_t n = 0;
    if (!read_digits(text, i, n)) n = 1;
    increment = down ? -n : n;
  }
  if (i >= text.size() || text[i] != '}') return false;
  style = s;
  start = saturate(first);
  step = saturate(increment);
  prefix = text.substr(0, open);
  suffix = text.substr(i + 1);
  return true;
}

void cComplexText::BuildTagTable(const rTCToken*& cursor, const rTCToken* end, cHyperLinks* links,
                                 cLayoutEntries* entries) {
  if (mTagDepth >= cnMaxTagNesting) raise_base_error(errQLMCall, "{tags.depth}");
  struct rDepth {
    int32_t& depth;
    explicit rDepth(int32_t& d) : depth(d) { ++depth; }
    ~rDepth() { --depth; }
  } depth_guard(mTagDepth);

  auto box = std::make_unique<cBoxTags>();
  rTCMatch table;
  std::vector<rTCMatch> local;  // open nested structures of the cell
  enum { kStart, kRows, kTag, kText } state = kStart;
  bool any = false;
  rTagRow* row = nullptr;
  const auto give = [&](const rTCToken* t, bool tag) {
    const rTCToken*& first = tag ? row->tag_first : row->text_first;
    const rTCToken*& last = tag ? row->tag_last : row->text_last;
    if (first == nullptr) first = t;
    last = t;
    any = true;
  };
  const auto new_row = [&] {
    row = box->mRows.Append(1);
    if (row == nullptr) raise_base_error(errNEnoughMem, "{not rows.Append}");
    state = box->mTagStyle == cnTagMarkup ? kTag : kText;
  };
  const rTCToken* t = cursor;
  for (; t != nullptr; t = t->next) {
    cursor = t;
    if (state == kStart) {
      if (tblocks_is_structure(t, "tags", "", &table)) {
        const rTCT_STRUCTURE* s = t->Structure();
        if (s != nullptr && s->properties != nullptr) {
          for (const rTCProperty* p = s->properties->First(); p != nullptr; p = p->next) {
            if (p->variable != 0) continue;
            const std::string name = string_trim_upper(p->name);
            if (name == "TALIGN") {
              std::string v;
              if (ValueText(p, v)) {
                const std::string key = string_trim_upper(v);
                if (key == "LEFT")
                  box->mTagAlign = ALIGN_LEFT;
                else if (key == "CENTER")
                  box->mTagAlign = ALIGN_CENTER;
                else if (key == "RIGHT")
                  box->mTagAlign = ALIGN_RIGHT;
              }
            } else if (name == "TWIDTH") {
              ParseTagWidth(p, box->mTagWidthMode, box->mTagWidthValue);
            } else if (name == "TPITCH") {
              ParseTagWidth(p, box->mPitchMode, box->mPitchValue);
            } else if (name == "TSTYLE") {
              ParseTagStyle(p, box->mTagStyle, box->mStart, box->mStep, box->mPrefix, box->mSuffix);
            }
          }
        }
        state = kRows;
      }
    } else if (t == end || tblocks_is_closing(t, &table)) {
      break;
    } else if (state == kRows) {
      if (tblocks_is_metadata(t, tc_metadata_bit(cnMetadataLabel), "tag", "", nullptr)) new_row();
    } else {
      const bool tag = state == kTag;
      if (t->kind == TCT_STRUCTURE && (t->partner != nullptr || (t->Structure() && t->Structure()->partner))) {
        rTCMatch m;
        m.kind = TCT_STRUCTURE;
        m.partner_token = t->partner;
        m.partner_payload = t->Structure() != nullptr ? t->Structure()->partner : nullptr;
        local.push_back(m);
        give(t, tag);
      } else if (!local.empty() && tblocks_is_closing(t, &local.back())) {
        local.pop_back();
        give(t, tag);
      } else if (local.empty() && tag && t->kind == TCT_BRACE_CLOSE) {
        state = kText;
      } else if (local.empty() && !tag &&
                 tblocks_is_metadata(t, tc_metadata_bit(cnMetadataLabel), "tag", "", nullptr)) {
        new_row();
      } else {
        give(t, tag);
      }
    }
    if (t == end) break;
  }
  if (end != nullptr) cursor = end;
  if (!any) return;

  int64_t counter = box->mStart;
  for (rTagRow* r = box->mRows.First(); r != nullptr; r = r->next) {
    if (box->mTagStyle == cnTagNumbers || box->mTagStyle == cnTagLetters) {
      std::string label = box->mPrefix + tag_label(box->mTagStyle, counter) + box->mSuffix;
      r->tag_box = std::make_unique<cBoxString>(label);
      if (!r->tag_box->Format(*this, links)) raise_base_error(errQLMCall, "{not row.tags.Format(Self)}");
      // Numbers saturate in 32 bits; letters leave 32..126 for good and
      // stay "~".
      counter = std::clamp<int64_t>(counter + box->mStep, INT32_MIN, INT32_MAX);
    } else if (r->tag_first != nullptr) {
      r->tag_entries = std::make_unique<cLayoutEntries>();
      const bool force = mForceAscii;
      mForceAscii = true;
      try {
        const rTCToken* c = r->tag_first;
        Interpret(c, r->tag_last, links, r->tag_entries.get());
      } catch (...) {
        mForceAscii = force;
        throw;
      }
      mForceAscii = force;
    }
    r->text_entries = std::make_unique<cLayoutEntries>();
    if (r->text_first != nullptr) {
      const rTCToken* c = r->text_first;
      Interpret(c, r->text_last, links, r->text_entries.get());
    }
  }
  entries->AddBox(std::move(box));
}

// ---------------------------------------------------------------------------
// The box.

void cBoxTags::LayoutTag(cComplexText& doc, cHyperLinks* links, rTagRow& row, double width, const char* cell_error,
                         const char* box_error) {
  if (row.tag_box != nullptr) {
    row.tag_width = row.tag_box->mWidth;
    row.tag_height = row.tag_box->mHeight;
    if (!row.tag_box->Layout(doc, links, width)) raise_base_error(errQLMCall, box_error);
  } else {
    layout_entries(doc, links, row.tag_entries.get(), width, cell_error, row.tag_width, row.tag_height);
  }
}

namespace {

void forget_entries(cLayoutEntries* entries) {
  if (entries == nullptr) return;
  for (rLayoutEntry* e = entries->First(); e != nullptr; e = e->next)
    if (e->box != nullptr) e->box->Forget();
}

}  // namespace

void cBoxTags::Forget() {
  for (rTagRow* r = mRows.First(); r != nullptr; r = r->next) {
    if (r->tag_box != nullptr) r->tag_box->Forget();
    forget_entries(r->tag_entries.get());
    forget_entries(r->text_entries.get());
    r->text_width = r->text_height = 0;
  }
}

bool cBoxTags::Layout(cComplexText& doc, cHyperLinks* links, double width) {
  try {
    Forget();
    doc.SyncFont();
    rRectD blank;
    if (doc.mRenderer != nullptr) doc.mRenderer->TextBounds(" ", blank);
    const double b = blank.x2 - blank.x1;
    const double dpi = screen_dpi();
    const auto by_mode = [&](uint8_t mode, double value) {
      switch (mode) {
        case cnTagWidthPercent: return width / 100 * value;
        case cnTagWidthPixels: return value;
        case cnTagWidthPoints: return dpi * value / 72;
        case cnTagWidthMillimetres: return dpi * (value / 25.4);
        case cnTagWidthBlanks: return value * b;
        default: return 0.0;
      }
    };
    const auto sane = [](double v) { return std::isfinite(v) && v >= 0 ? v : 0.0; };
    const bool fixed = mTagWidthMode >= cnTagWidthPixels || (mTagWidthMode == cnTagWidthPercent && width > 0);
    if (fixed) {
      mWTags = sane(by_mode(mTagWidthMode, mTagWidthValue));
    } else {
      mWTags = 0;
      for (rTagRow* r = mRows.First(); r != nullptr; r = r->next) {
        LayoutTag(doc, links, *r, 0, "{not box.span.Layout(base,0)}", "{not row.tags.Layout(base,0)}");
        mWTags = std::max(mWTags, r->tag_width);
      }
      mWTags = sane(mWTags);
    }
    if (mWTags > 0 && fixed) {
      for (rTagRow* r = mRows.First(); r != nullptr; r = r->next) {
        LayoutTag(doc, links, *r, mWTags, "{not box.span.Layout(base,mWTags)}", "{not row.tags.Layout(base,mWTags)}");
        mWTags = std::max(mWTags, sane(r->tag_width));
      }
    }
    if (mPitchMode == cnTagWidthAuto || (mPitchMode == cnTagWidthPercent && !(width > 0)))
      mGap = sane(b * 2);
    else
      mGap = sane(by_mode(mPitchMode, mPitchValue));
    mWText = sane(width - mGap - mWTags);
    double y = 0;
    double widest = 0;
    for (rTagRow* r = mRows.First(); r != nullptr; r = r->next) {
      if (mWText > 0 && r->text_entries != nullptr)
        layout_entries(doc, links, r->text_entries.get(), mWText, "{not box.span.Layout(base,mWText)}", r->text_width,
                       r->text_height);
      if (mTagAlign == ALIGN_RIGHT)
        r->tag_x = std::max(0.0, mWTags - r->tag_width);
      else if (mTagAlign == ALIGN_CENTER)
        r->tag_x = std::max(0.0, (mWTags - r->tag_width) / 2);
      r->tag_y = y;
      r->row_height = std::max(r->tag_height, r->text_height);
      y += r->row_height;
      widest = std::max(widest, mWTags + mGap + r->text_width);
    }
    mWidth = widest;
    mHeight = y;
    return true;
  } catch (...) {
    return false;
  }
}

namespace {

void render_cell(cComplexText& doc, cLayoutEntries* entries, uint8_t flags, double x, double y, cHitTest* hit) {
  if (entries == nullptr) return;
  for (rLayoutEntry* e = entries->First(); e != nullptr; e = e->next) {
    if (e->Kind() == cnEntryStyle)
      doc.ApplyStyles(e->styles.get());
    else if (e->Kind() == cnEntryBox && e->box != nullptr)
      e->box->Render(doc, flags, x, y, hit);
  }
}

void render_cell_page(cComplexText& doc, cLayoutEntries* entries, int32_t page, double x, double y, uint8_t flags,
                      cHitTest* hit) {
  if (entries == nullptr) return;
  for (rLayoutEntry* e = entries->First(); e != nullptr; e = e->next) {
    if (e->Kind() == cnEntryStyle)
      doc.ApplyStyles(e->styles.get());
    else if (e->Kind() == cnEntryBox && e->box != nullptr)
      e->box->RenderPage(doc, page, x, y, flags, hit);
  }
}

void paginate_cell(cComplexText& doc, cLayoutEntries* entries, double& total_y, double& page_y, double page_height,
                   int32_t& page) {
  if (entries == nullptr) return;
  for (rLayoutEntry* e = entries->First(); e != nullptr; e = e->next) {
    if (e->Kind() == cnEntryStyle)
      doc.PreviewStyles(e->styles.get());
    else if (e->box != nullptr)
      e->box->Paginate(doc, total_y, page_y, page_height, page);
  }
}

// The height of a cell's first line: what must fit on a page together with
// the row's other cell.
double first_line_height(const cBoxString* tag_box, cLayoutEntries* entries) {
  if (tag_box != nullptr) return tag_box->mHeight;
  if (entries == nullptr) return 0;
  for (rLayoutEntry* e = entries->First(); e != nullptr; e = e->next) {
    if (e->Kind() == cnEntryStyle || e->box == nullptr) continue;
    if (const auto* box = dynamic_cast<const cBoxComplex*>(e->box.get())) {
      double h = 0;
      for (const rTextBit* r = box->Runs()->First(); r != nullptr; r = r->next) {
        if (r->visible && r->kind != cnBitStyle) h = std::max(h, r->AsMeasured().height + r->AsMeasured().line_spacing);
        if (r->line_end) break;
      }
      return h;
    }
    return std::max(0.0, e->box->mHeight);
  }
  return 0;
}

}  // namespace

void cBoxTags::Render(cComplexText& doc, uint8_t flags, double x, double y, cHitTest* hit) {
  for (rTagRow* r = mRows.First(); r != nullptr; r = r->next) {
    const double tx = x + mX + r->tag_x, ty = y + mY + r->tag_y;
    if (r->tag_box != nullptr)
      r->tag_box->Render(doc, flags, tx, ty, hit);
    else
      render_cell(doc, r->tag_entries.get(), flags, tx, ty, hit);
    render_cell(doc, r->text_entries.get(), flags, x + mX + mWTags + mGap, y + mY + r->tag_y, hit);
  }
}

void cBoxTags::RenderPage(cComplexText& doc, int32_t page, double x, double y, uint8_t flags, cHitTest* hit) {
  for (rTagRow* r = mRows.First(); r != nullptr; r = r->next) {
    const double tx = x + mX + r->tag_x, ty = y + mY + r->tag_y;
    if (r->tag_box != nullptr)
      r->tag_box->RenderPage(doc, page, tx, ty, flags, hit);
    else
      render_cell_page(doc, r->tag_entries.get(), page, tx, ty, flags, hit);
    render_cell_page(doc, r->text_entries.get(), page, x + mX + mWTags + mGap, y + mY + r->tag_y, flags, hit);
  }
}

void cBoxTags::Paginate(cComplexText& doc, double& total_y, double& page_y, double page_height, int32_t& page) {
  for (rTagRow* r = mRows.First(); r != nullptr; r = r->next) {
    // The row's first line (the tag and the text's first line) goes to a
    // page together: when it does not fit on a page that already holds
    // something, the row starts the next page.
    const double first = std::max(first_line_height(r->tag_box.get(), r->tag_entries.get()),
                                  first_line_height(nullptr, r->text_entries.get()));
    if (page_y > 0 && page_y + first > page_height) {
      ++page;
      page_y = 0;
    }
    double tag_total = total_y, tag_page_y = page_y, text_total = total_y, text_page_y = page_y;
    int32_t tag_page = page, text_page = page;
    if (r->tag_box != nullptr)
      r->tag_box->Paginate(doc, tag_total, tag_page_y, page_height, tag_page);
    else
      paginate_cell(doc, r->tag_entries.get(), tag_total, tag_page_y, page_height, tag_page);
    paginate_cell(doc, r->text_entries.get(), text_total, text_page_y, page_height, text_page);
    if (text_total > tag_total) {
      total_y = text_total, page_y = text_page_y, page = text_page;
    } else {
      total_y = tag_total, page_y = tag_page_y, page = tag_page;
    }
  }
}
