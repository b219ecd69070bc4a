// The paragraph assembly, the mixed-style paragraph box (measuring, line
// breaking, placement, drawing, pagination), the string box and the link
// glow.
#include "qlm_layout_boxes.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "qlm_base_codes.h"
#include "qlm_base_util.h"
#include "qlm_bitmap_filters.h"
#include "qlm_complex_text.h"
#include "qlm_renderer.h"
#include "qlm_renderer_hittest.h"
#include "qlm_renderer_state.h"

namespace {

bool is_text(const rTextBit* r) { return r->kind == cnBitText || r->kind == cnBitWide; }
// Runs that take part in line widths: text, spaces and no-break spaces.
bool is_measured(const rTextBit* r) { return is_text(r) || r->kind == cnBitSpaces || r->kind == cnBitNoBreak; }
// Runs that hold a place and a hyperlink record: text and no-break spaces.
bool holds_link(const rTextBit* r) { return is_text(r) || r->kind == cnBitNoBreak; }
// Gives the run the hyperlink in force: every measured run gets a record,
// which only text and no-break runs keep (spaces are never drawn).
void give_link(cComplexText& doc, cHyperLinks* links, rTextBit* r) {
  rHyperLink* link = cLayoutBox::MakeLink(doc.mCurrentLink, links);
  if (holds_link(r)) r->AsRun().link = link;
}
const rTextBit* wend(const rTextBit* r) { return r->word_end != nullptr ? r->word_end : r; }
rTextBit* wend(rTextBit* r) { return r->word_end != nullptr ? r->word_end : r; }

rTextView view_of(const rTextBit& r) {
  if (r.kind == cnBitWide) {
    rTextView v;
    v.data = r.AsRun().wide.data();
    v.length = int64_t(r.AsRun().wide.size());
    v.unit = 4;
    return v;
  }
  return rTextView(r.AsRun().text);
}

// Width of the word headed by r: its own width and that of the measured
// runs that follow it up to its end.
double word_width(const rTextBit* r) {
  double w = r->AsMeasured().width;
  const rTextBit* end = wend(r);
  for (const rTextBit* q = r; q != end && q->next != nullptr;) {
    q = q->next;
    if (is_measured(q)) w += q->AsMeasured().width;
  }
  return w;
}

// The line height a word claims: the largest of its runs, so that a larger
// run inside a word is not drawn into the line above.
double word_line_height(const rTextBit* r) {
  double h = r->AsMeasured().height;
  const rTextBit* end = wend(r);
  for (const rTextBit* q = r; q != end && q->next != nullptr;) {
    q = q->next;
    if (is_measured(q)) h = std::max(h, q->AsMeasured().height);
  }
  return h;
}

double finite_or_zero(double v) { return std::isfinite(v) ? v : 0; }

// The part of the document's plane that can show on the renderer: the
// surface within the clip bounds, mapped back through the transformation
// (the origin included), widened by a margin for glows, italics and lines.
// Runs wholly outside it are not drawn (style switches still are).
using rVisible = rDrawArea;

rVisible visible_area(cComplexText& doc) {
  if (doc.mDrawArea != nullptr) return *doc.mDrawArea;
  return complex_text_draw_area(doc);
}

}  // namespace

rDrawArea complex_text_draw_area(cComplexText& doc) {
  rDrawArea v;
  cRenderer* r = doc.mRenderer;
  if (!doc.mCullLines || r == nullptr || !r->IsAttached()) return v;
  // The surface in device pixels; the renderer's origin is part of the
  // device matrix, so the inverse mapping below takes it into account.
  double dx1 = 0, dy1 = 0, dx2 = r->GetWidth(), dy2 = r->GetHeight();
  // Clip shapes live in the space before the device matrix and the origin:
  // they bound the device rectangle only while both are plain.
  const rMatrix& device = r->GetMatrix();
  const bool plain_device = !r->IsOriginSet() && device.sx == 1 && device.sy == 1 && device.shx == 0 &&
                            device.shy == 0 && device.tx == 0 && device.ty == 0;
  if (plain_device && r->IsClipOn()) {
    rRectD c;
    r->GetClipBounds(c);
    if (c.x1 < c.x2 && c.y1 < c.y2) {
      dx1 = std::max(dx1, c.x1), dy1 = std::max(dy1, c.y1);
      dx2 = std::min(dx2, c.x2), dy2 = std::min(dy2, c.y2);
    }
  }
  double xs[4] = {dx1, dx2, dx1, dx2};
  double ys[4] = {dy1, dy1, dy2, dy2};
  v.x1 = v.y1 = INFINITY;
  v.x2 = v.y2 = -INFINITY;
  for (int i = 0; i < 4; ++i) {
    r->InverseTransformPoint(xs[i], ys[i], true);
    if (!std::isfinite(xs[i]) || !std::isfinite(ys[i])) return v;
    v.x1 = std::min(v.x1, xs[i]), v.x2 = std::max(v.x2, xs[i]);
    v.y1 = std::min(v.y1, ys[i]), v.y2 = std::max(v.y2, ys[i]);
  }
  // 32 device pixels of margin, in document units.
  const double scale = r->TransformLength(1.0);
  const double margin = scale > 1e-9 && std::isfinite(scale) ? 32 / scale : INFINITY;
  if (!std::isfinite(margin)) return v;
  v.x1 -= margin, v.y1 -= margin, v.x2 += margin, v.y2 += margin;
  v.all = false;
  return v;
}

namespace {

// Whether the run, drawn at (x, y), can show: its line's band around y.
bool run_shows(const rVisible& v, const rTextBit& run, double x, double y) {
  const double h = run.AsMeasured().height;
  return v.Shows(x, y - h, std::max(run.AsMeasured().width, 0.0), 2 * h);
}

}  // namespace

// ---------------------------------------------------------------------------
// Paragraph assembly.

void cComplexText::AssembleParagraph(std::unique_ptr<cTextBits>& bits, cHyperLinks* links, cLayoutEntries* entries) {
  if (bits == nullptr) return;
  // 1. Words.
  rTextBit* word = nullptr;
  for (rTextBit* r = bits->First(); r != nullptr; r = r->next) {
    if (word == nullptr) {
      if (is_text(r) || r->kind == cnBitNoBreak) {
        r->word_end = r;
        word = r;
      } else if (r->kind != cnBitStyle) {
        r->word_end = r;
      }
    } else if (is_text(r) || r->kind == cnBitNoBreak) {
      r->visible = true;
      word->word_end = r;
    } else if (r->kind == cnBitSpaces) {
      r->word_end = r;
      word = nullptr;
    } else if (r->kind != cnBitStyle) {
      word = nullptr;
    }
  }
  // 2. Single style: text between style switches only at its start and end.
  bool single = false;
  rTextBit* leading = nullptr;
  rTextBit* trailing = nullptr;
  if (!mForceAscii) {
    int state = 0;  // 0 before text, 1 in text, 2 after text
    for (rTextBit* r = bits->First(); r != nullptr; r = r->next) {
      const bool textual = is_measured(r);
      if (state == 0) {
        if (textual) {
          single = true;
          state = 1;
        } else if (r->kind == cnBitStyle && leading == nullptr) {
          leading = r;
        }
      } else if (state == 1) {
        if (textual) continue;
        if (r->kind == cnBitStyle) {
          trailing = r;
          state = 2;
        } else {
          single = false;
          break;
        }
      } else if (r->kind != cnBitStyle) {
        single = false;
        break;
      }
    }
  }
  std::vector<std::unique_ptr<cPropertyEntries>> lead_lists;
  std::vector<std::unique_ptr<cPropertyEntries>> trail_lists;
  if (single) {
    for (rTextBit* r = leading; r != nullptr && r->kind == cnBitStyle; r = r->next)
      if (r->Styles() != nullptr) lead_lists.push_back(std::move(r->StyleList()));
    for (rTextBit* r = trailing; r != nullptr && r->kind == cnBitStyle; r = r->next)
      if (r->Styles() != nullptr) trail_lists.push_back(std::move(r->StyleList()));
  }
  // 3. The box takes the runs over.
  std::unique_ptr<cLayoutBox> box;
  if (single) {
    box = std::make_unique<cBoxParagraph>(bits);
    if (bits != nullptr) raise_base_error(errQLMCall, "{not cBoxParagraph.Construct(bits)}");
  } else {
    box = std::make_unique<cBoxComplex>(bits);
    if (bits != nullptr) raise_base_error(errQLMCall, "{not cBoxComplex.Construct(bits)}");
  }
  // 4. Entries. The leading switches are previewed before the box measures
  // its runs, as drawing applies them before it draws the box, and the
  // trailing ones after.
  for (auto& list : lead_lists) {
    PreviewStyles(list.get());
    entries->AddStyles(std::move(list));
  }
  cLayoutBox& ref = *box;
  entries->AddBox(std::move(box));
  if (!ref.Format(*this, links)) raise_base_error(errQLMCall, "{not le.span.Format(Self)}");
  for (auto& list : trail_lists) {
    PreviewStyles(list.get());
    entries->AddStyles(std::move(list));
  }
}

void layout_entries(cComplexText& doc, cHyperLinks* links, cLayoutEntries* entries, double width, const char* error,
                    double& widest, double& height, rLayoutEntry* first) {
  if (first == nullptr) {
    widest = 0;
    height = 0;
    if (entries == nullptr) return;
    first = entries->First();
  }
  for (rLayoutEntry* e = first; e != nullptr; e = e->next) {
    if (e->Kind() == cnEntryStyle) {
      doc.PreviewStyles(e->styles.get());
    } else if (e->Kind() == cnEntryBox && e->box != nullptr) {
      if (!e->box->Layout(doc, links, width)) raise_base_error(errQLMCall, error);
      e->box->mX = 0;
      e->box->mY = height;
      height += e->box->mHeight;
      widest = std::max(widest, e->box->mWidth);
    } else if (auto* space = dynamic_cast<cBoxSpace*>(e->box.get()); space != nullptr && space->mTakesRoom) {
      space->mX = 0;
      space->mY = height;
      height += space->mHeight;
    }
  }
}

// ---------------------------------------------------------------------------
// Hyperlink drawing.

void cLayoutBox::DrawLinkArea(cRenderer* renderer, const rRectD& rect, cHitTest* hit) {
  if (renderer == nullptr || hit == nullptr) return;
  hit->Reset();
  std::unique_ptr<cPen> pen = renderer->GetPen();
  std::unique_ptr<cFill> fill = renderer->GetFill();
  std::unique_ptr<cShadow> shadow = renderer->GetShadow();
  renderer->PenOff();
  renderer->FillSolid();
  renderer->FillOn();
  renderer->SetFillColorARGB(0x01FFFFFFu);
  renderer->ShadowOff();
  renderer->DrawRectangle(hit, rect.x1, rect.y1, rect.x2, rect.y2);
  renderer->SetPen(pen.get(), true);
  renderer->SetFill(fill.get(), true);
  renderer->SetShadow(shadow.get(), true);
}

void cLayoutBox::DrawLinkText(cComplexText& doc, rHyperLink* link, const rTextView& text, double x, double y,
                              cHitTest* hit) {
  cRenderer* r = doc.mRenderer;
  rRectD rect;
  r->TextExtents(text, true, x, y, rect);
  DrawLinkArea(r, rect, link->hit.get());
  r->SetFilterCallback(complex_text_link_glow, 10, link);
  r->DrawText(text, x, y, nullptr);
  r->FilterCallbackOff();
  r->DrawText(text, x, y, hit);
}

void complex_text_link_glow(cBitmap* layer, bool&, void* user) {
  const auto* link = static_cast<const rHyperLink*>(user);
  bf_invert(layer, 0, nullptr);
  const uint8_t state = link != nullptr ? link->state : 0;
  if (state == 1)
    bf_keep_red(layer, 0, nullptr, 1.0);
  else if (state == 2)
    bf_keep_green(layer, 0, nullptr, 1.0);
  else
    bf_keep_blue(layer, 0, nullptr, 1.0);
  bf_lightness(layer, 100, 0, nullptr);
  bf_gaussian_blur(layer, 1, 0, nullptr);
}

// ---------------------------------------------------------------------------
// The string box.

cBoxString::cBoxString(std::string& text) : mText(std::move(text)) { text.clear(); }

bool cBoxString::Format(cComplexText& doc, cHyperLinks* links) {
  rRectD b;
  doc.SyncFont();
  if (doc.mRenderer != nullptr) doc.mRenderer->TextBounds(mText, b);
  mWidth = b.x2 - b.x1;
  mHeight = b.y2 - b.y1;
  mLink = MakeLink(doc.mCurrentLink, links);
  return true;
}

bool cBoxString::Layout(cComplexText& doc, cHyperLinks* links, double) {
  mLink = MakeLink(doc.mCurrentLink, links);
  return true;
}

void cBoxString::Render(cComplexText& doc, uint8_t flags, double x, double y, cHitTest* hit) {
  cRenderer* r = doc.mRenderer;
  if (r == nullptr || mText.empty()) return;
  doc.SyncFont();
  const double px = x + mX;
  const double py = y + mY;
  r->SetTextAlign(ALIGN_LEFT, ALIGN_TOP);
  if (mLink != nullptr) {
    if ((flags & (cnRenderLinks | cnRenderAll)) != 0) DrawLinkText(doc, mLink, rTextView(mText), px, py, hit);
  } else if ((flags & (cnRenderPlain | cnRenderAll)) != 0) {
    r->DrawText(mText, px, py, hit);
  }
}

void cBoxString::Paginate(cComplexText&, double& total_y, double& page_y, double page_height, int32_t& page) {
  // A box taller than the page goes on a page of its own, without an empty
  // page before it.
  if (page_y > 0 && page_y + mHeight > page_height) {
    ++page;
    page_y = 0;
  }
  mPage = page;
  mPageOffset = total_y - page_y;
  total_y += mHeight;
  page_y += mHeight;
}

void cBoxString::RenderPage(cComplexText& doc, int32_t page, double x, double y, uint8_t flags, cHitTest* hit) {
  if (page == mPage) Render(doc, flags, x, y - mPageOffset, hit);
}

// ---------------------------------------------------------------------------
// The mixed-style box.

cBoxComplex::cBoxComplex(std::unique_ptr<cTextBits>& runs) {
  if (runs != nullptr) mRuns.TakeOver(*runs);
  runs.reset();
}
cBoxComplex::~cBoxComplex() = default;

bool cBoxComplex::Format(cComplexText& doc, cHyperLinks*) {
  try {
    cRenderer* r = doc.mRenderer;
    for (rTextBit* run = mRuns.First(); run != nullptr; run = run->next) {
      rRectD b;
      switch (run->kind) {
        case cnBitText:
        case cnBitWide:
          doc.SyncFont();
          r->TextBounds(view_of(*run), b);
          run->AsMeasured().width = finite_or_zero(b.x2 - b.x1);
          run->AsMeasured().height = finite_or_zero(b.y2 - b.y1);
          break;
        case cnBitSpaces:
        case cnBitNoBreak:
          doc.SyncFont();
          r->TextBounds(" ", b);
          run->AsMeasured().width = finite_or_zero((b.x2 - b.x1) * std::max(run->count, 0));
          run->AsMeasured().height = finite_or_zero(b.y2 - b.y1);
          break;
        case cnBitStyle: doc.PreviewStyles(run->Styles()); break;
        default: break;
      }
    }
    return true;
  } catch (...) {
    return false;
  }
}

void cBoxComplex::Forget() {
  for (rTextBit* r = mRuns.First(); r != nullptr; r = r->next) {
    if (holds_link(r)) r->AsRun().link = nullptr;
    r->visible = false;
    r->line_end = false;
  }
}

double cBoxComplex::DrawReach() const {
  // The bottom of the band run_shows tests for every run Render can draw.
  double reach = -INFINITY;
  for (const rTextBit* run = mRuns.First(); run != nullptr; run = run->next) {
    if (run->kind == cnBitStyle || !run->visible || !is_text(run)) continue;
    const double bottom = mY + run->AsRun().y + run->AsMeasured().height;
    if (!std::isfinite(bottom)) return INFINITY;
    reach = std::max(reach, bottom);
  }
  return reach;
}

namespace {

// One line as the breaking step made it: its first word and the end of its
// last word, its width (trailing spaces included) and the line height of
// its tallest word. A line break met outside any line is an empty line of
// its own height (`last_end` nil, `first` the break).
struct rBrokenLine {
  rTextBit* first = nullptr;
  rTextBit* last_end = nullptr;
  double width = 0;
  double height = 0;
  bool last = false;  // the runs end inside it: the paragraph's last line
};

// Breaking: walks the runs in the document's styles, gives every run its
// alignments, spacing, line height, visibility and hyperlink record, and
// breaks the words into lines of at most `width` (0: no wrapping). Answers
// the widest line without its trailing spaces; the line ends are marked on
// the runs.
double break_lines(cComplexText& doc, cHyperLinks* links, rTextBit* runs, double width,
                   std::vector<rBrokenLine>& lines) {
  const bool wrap = !float_equal(width, 0);
  bool in_line = false;
  double widest = 0;
  const auto finish_word = [&](rTextBit* head) {
    rTextBit* end = wend(head);
    for (rTextBit* q = head; q != end && q->next != nullptr;) {
      q = q->next;
      if (is_measured(q)) {
        // Text and no-break spaces inside a word show (as the paragraph
        // assembly marked them; a box forgotten by an earlier layout gets
        // them back here).
        if (q->kind != cnBitSpaces) q->visible = true;
        give_link(doc, links, q);
      } else if (q->kind == cnBitStyle) {
        q->visible = false;
        doc.PreviewStyles(q->Styles());
      }
    }
  };
  const auto end_line = [&] {
    rBrokenLine& line = lines.back();
    double w = line.width;
    if (line.last_end->kind == cnBitSpaces) {
      line.last_end->visible = false;
      w -= line.last_end->AsMeasured().width;
    }
    line.last_end->line_end = true;
    widest = std::max(widest, w);
    in_line = false;
  };
  const auto start_line = [&](rTextBit* r) {
    rBrokenLine line;
    line.first = r;
    line.last_end = wend(r);
    line.width = word_width(r);
    line.height = word_line_height(r);
    lines.push_back(line);
    finish_word(r);
    in_line = true;
    return line.last_end->next;
  };
  for (rTextBit* r = runs; r != nullptr;) {
    r->visible = true;
    r->line_end = false;
    for (rTextBit* q = r;; q = q->next) {
      q->align_x = doc.mCurrentAlignX;
      q->align_y = doc.mCurrentAlignY;
      if (q->kind != cnBitStyle) q->AsMeasured().line_spacing = doc.mCurrentSpacing;
      if (q == wend(r) || q->next == nullptr) break;
    }
    if (!in_line) {
      if (is_text(r)) {
        give_link(doc, links, r);
        r = start_line(r);
        continue;
      }
      r->visible = false;
      if (r->kind == cnBitStyle) doc.PreviewStyles(r->Styles());
      if (r->kind == cnBitBreaks) {
        rBrokenLine empty;
        empty.first = r;
        empty.height = r->AsMeasured().height;
        lines.push_back(empty);
      }
      r = r->next;
      continue;
    }
    if (is_text(r) || r->kind == cnBitSpaces) {
      give_link(doc, links, r);
      const double ww = word_width(r);
      rBrokenLine& line = lines.back();
      if (!wrap || ww + line.width <= width) {
        line.height = std::max(line.height, word_line_height(r));
        line.width += ww;
        line.last_end = wend(r);
        finish_word(r);
        r = line.last_end->next;
        continue;
      }
      end_line();
      if (is_text(r)) {
        r = start_line(r);
        continue;
      }
      r->visible = false;
    } else if (r->kind == cnBitBreaks) {
      end_line();
      r->visible = false;
    } else {
      r->visible = false;
      if (r->kind == cnBitStyle) doc.PreviewStyles(r->Styles());
    }
    r = r->next;
  }
  if (in_line) {
    end_line();
    lines.back().last = true;
  }
  return widest;
}

// Placing: aligns each line in `available` (justified lines spread their
// words, except the last line and one a line break ends), sets every
// visible run's position by its vertical alignment in the line and
// answers the total height.
double place_lines(const std::vector<rBrokenLine>& lines, double available) {
  double total_y = 0;
  for (const rBrokenLine& line : lines) {
    if (line.last_end == nullptr) {
      total_y += line.height;
      continue;
    }
    rTextBit* const first = line.first;
    rTextBit* const last_end = line.last_end;
    double w = line.width;
    if (last_end->kind == cnBitSpaces) w -= last_end->AsMeasured().width;
    double start_x = 0;
    double gap = 0;
    uint8_t align = first->align_x;
    if (align == ALIGN_JUSTIFY) {
      const bool broken = last_end->next != nullptr && last_end->next->kind == cnBitBreaks;
      align = line.last || broken ? ALIGN_LEFT : ALIGN_WIDTH;
    }
    if (align == ALIGN_RIGHT) {
      start_x = available - w;
    } else if (align == ALIGN_CENTER) {
      start_x = (available - w) / 2;
    } else if (align == ALIGN_WIDTH) {
      int32_t n = 0;
      for (rTextBit* h = first;; h = wend(h)->next) {
        if (h->visible && is_measured(h)) ++n;
        if (wend(h) == last_end || wend(h)->next == nullptr) break;
      }
      if (n > 1) gap = std::max(0.0, (available - w) / (n - 1));
    }
    start_x = finite_or_zero(start_x);
    gap = finite_or_zero(gap);
    const double line_height = line.height + first->AsMeasured().line_spacing;
    double acc = 0;
    for (rTextBit* h = first;; h = wend(h)->next) {
      rTextBit* end = wend(h);
      for (rTextBit* q = h;; q = q->next) {
        if (q->visible && q->kind != cnBitStyle) {
          // Only runs that are drawn keep their place.
          if (holds_link(q)) {
            q->AsRun().x = start_x + acc;
            q->AsRun().y = q->align_y == ALIGN_CENTER   ? total_y + line_height / 2
                           : q->align_y == ALIGN_BOTTOM ? total_y + line_height
                                                        : total_y;
          }
          start_x += q->AsMeasured().width;
        }
        if (q == end || q->next == nullptr) break;
      }
      acc += gap;
      if (end == last_end || end->next == nullptr) break;
    }
    total_y += line_height;
  }
  return total_y;
}

}  // namespace

bool cBoxComplex::Layout(cComplexText& doc, cHyperLinks* links, double width) {
  // The last layout's links and line ends go: a word of several runs ends
  // a line on its last run, which the breaking does not visit as a word.
  for (rTextBit* r = mRuns.First(); r != nullptr; r = r->next) {
    if (holds_link(r)) r->AsRun().link = nullptr;
    r->line_end = false;
  }
  std::vector<rBrokenLine> lines;
  const double widest = break_lines(doc, links, mRuns.First(), width, lines);
  const double total_y = place_lines(lines, std::max(width, widest));
  mWidth = widest;
  mHeight = finite_or_zero(total_y);
  return true;
}

void cBoxComplex::DrawRun(cComplexText& doc, const rTextBit& run, uint8_t flags, double x, double y, cHitTest* hit) {
  cRenderer* r = doc.mRenderer;
  doc.SyncFont();
  const rTextView text = view_of(run);
  if (run.AsRun().link != nullptr) {
    if ((flags & (cnRenderLinks | cnRenderAll)) == 0) return;
    r->SetTextAlign(ALIGN_LEFT, eAlign(run.align_y));
    DrawLinkText(doc, run.AsRun().link, text, x, y, hit);
  } else if ((flags & (cnRenderPlain | cnRenderAll)) != 0) {
    r->SetTextAlign(ALIGN_LEFT, eAlign(run.align_y));
    r->DrawText(text, x, y, hit);
  }
}

void cBoxComplex::Render(cComplexText& doc, uint8_t flags, double x, double y, cHitTest* hit) {
  const rVisible visible = visible_area(doc);
  for (const rTextBit* run = mRuns.First(); run != nullptr; run = run->next) {
    if (run->kind == cnBitStyle) {
      doc.ApplyStyles(run->Styles());
    } else if (run->visible && is_text(run)) {
      const double px = x + mX + run->AsRun().x;
      const double py = y + mY + run->AsRun().y;
      if (run_shows(visible, *run, px, py)) DrawRun(doc, *run, flags, px, py, hit);
    }
  }
}

void cBoxComplex::Paginate(cComplexText& doc, double& total_y, double& page_y, double page_height, int32_t& page) {
  mPagination.reset();
  const auto add_entry = [&](const rTextBit* first) {
    if (mPagination == nullptr) mPagination = std::make_unique<cPagination>();
    rPageEntry* e = mPagination->Append(1);
    if (e == nullptr) raise_base_error(errNEnoughMem, "{not pages.Append}");
    e->page = page;
    e->offset = total_y - page_y;
    e->first = first;
  };
  bool in_line = false;
  const rTextBit* first = nullptr;
  double line_height = 0;
  double spacing = 0;
  // Skips the word headed by r, previewing its style switches; answers the
  // run after it, and whether the word ends the line.
  const auto skip_word = [&](const rTextBit* r, bool& closes) {
    const rTextBit* end = wend(r);
    for (const rTextBit* q = r; q != end && q->next != nullptr;) {
      q = q->next;
      if (q->kind == cnBitStyle) doc.PreviewStyles(q->Styles());
    }
    closes = end->line_end;
    return end->next;
  };
  for (const rTextBit* r = mRuns.First(); r != nullptr;) {
    if (r->kind == cnBitStyle) {
      doc.PreviewStyles(r->Styles());
      r = r->next;
      continue;
    }
    bool closes = false;
    if (!in_line) {
      if (!is_measured(r)) {
        r = r->next;
        continue;
      }
      in_line = true;
      first = r;
      line_height = word_line_height(r);
      spacing = r->AsMeasured().line_spacing;
    } else if (is_text(r) || r->kind == cnBitSpaces) {
      line_height = std::max(line_height, word_line_height(r));
    } else if (r->kind != cnBitNoBreak) {
      r = r->next;
      continue;
    }
    r = skip_word(r, closes);
    if (!closes) continue;
    in_line = false;
    const double h = line_height + spacing;
    // A line that does not fit starts a new page, unless the page is still
    // empty: a line taller than a page then goes on this page alone.
    if (page_y > 0 && page_y + h > page_height) {
      ++page;
      page_y = 0;
      add_entry(first);
    }
    if (mPagination == nullptr) add_entry(first);
    total_y += h;
    page_y += h;
  }
}

void cBoxComplex::RenderPage(cComplexText& doc, int32_t page, double x, double y, uint8_t flags, cHitTest* hit) {
  if (mPagination == nullptr || mRuns.First() == nullptr) return;
  const rVisible visible = visible_area(doc);
  const rPageEntry* entry = nullptr;
  const rPageEntry* next = mPagination->First();
  for (const rTextBit* run = mRuns.First(); run != nullptr; run = run->next) {
    while (next != nullptr && next->first == run) {
      entry = next;
      next = next->next;
    }
    if (run->kind == cnBitStyle) {
      doc.ApplyStyles(run->Styles());
    } else if (entry != nullptr && entry->page == page && run->visible && is_text(run)) {
      const double px = x + mX + run->AsRun().x;
      const double py = y + mY + run->AsRun().y - entry->offset;
      if (run_shows(visible, *run, px, py)) DrawRun(doc, *run, flags, px, py, hit);
    }
  }
}
