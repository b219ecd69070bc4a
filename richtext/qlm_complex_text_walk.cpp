// The mark-up walk: tokens to paragraphs of text runs, style switches and
// spacing boxes.
#include <algorithm>

#include "qlm_base_codes.h"
#include "qlm_base_util.h"
#include "qlm_complex_text.h"
#include "qlm_encoding.h"
#include "qlm_tag_tables.h"

namespace {

int32_t clamp_count(int64_t n) { return int32_t(std::clamp<int64_t>(n, 0, cnMaxInsertableCount)); }

// The insertable's name against a family ("SP", "SP2", "SP3"): its factor,
// 0 when the name is none of them.
int32_t family_factor(const rTCT_INSERTABLE* ins, const char* stem) {
  if (ins == nullptr || ins->kind != cnInsertableName) return 0;
  const std::string key = string_trim_upper(ins->name);
  const std::string s = stem;
  if (key == s) return 1;
  if (key == s + "2") return 2;
  if (key == s + "3") return 3;
  return 0;
}

}  // namespace

// The integer property "count" of a name insertable (the first such property
// with an integer value), 1 without one.
static int32_t insertable_count(cComplexText& doc, const rTCT_INSERTABLE* ins) {
  const cTCProperties* list = ins->Properties();
  if (list == nullptr) return 1;
  for (const rTCProperty* p = list->First(); p != nullptr; p = p->next) {
    int32_t value = 0;
    if (p->variable == 0 && string_trim_upper(p->name) == "COUNT" && doc.ValueInt(p, value)) return value;
  }
  return 1;
}

bool cComplexText::IsNoBreakInsertable(const rTCT_INSERTABLE* insertable, int32_t& count) {
  if (family_factor(insertable, "NBSP") != 1) return false;
  count = clamp_count(insertable_count(*this, insertable));
  return true;
}

bool cComplexText::IsSpaceInsertable(const rTCT_INSERTABLE* insertable, int32_t& count) {
  const int32_t factor = family_factor(insertable, "SP");
  if (factor == 0) return false;
  count = clamp_count(int64_t(insertable_count(*this, insertable)) * factor);
  return true;
}

bool cComplexText::IsParagraphInsertable(const rTCT_INSERTABLE* insertable, int32_t& count) {
  const int32_t factor = family_factor(insertable, "P");
  if (factor == 0) return false;
  count = clamp_count(int64_t(insertable_count(*this, insertable)) * factor);
  return true;
}

void cComplexText::StartParagraph() {
  if (mBits == nullptr)
    mBits = std::make_unique<cTextBits>();
  else
    mBits->Clear();
  FlushPendingStyles();
}

void cComplexText::FlushPendingStyles() {
  if (mBits == nullptr || mScopes == nullptr) return;
  // Pending scopes (opened between paragraphs) are always the innermost
  // ones: go outward while scopes still hold their new entries, then hand
  // them over from the outermost pending one inward.
  rPropertyScope* s = mCurrentScope;
  if (s == nullptr || s->new_entries == nullptr) return;
  while (s->prev != nullptr && s->prev->new_entries != nullptr) s = s->prev;
  for (; s != nullptr; s = s->next)
    if (s->new_entries != nullptr) mBits->AddStyleSwitch(s->new_entries);
}

void cComplexText::PreviewStyles(cPropertyEntries* styles, const char* text) {
  if (styles == nullptr) return;
  for (rPropertyEntry* e = styles->First(); e != nullptr; e = e->next)
    if (e->prop != nullptr && !e->prop->Preview(*this)) raise_base_error(errQLMCall, text);
}

void cComplexText::ApplyStyles(cPropertyEntries* styles) {
  if (styles == nullptr) return;
  for (rPropertyEntry* e = styles->First(); e != nullptr; e = e->next) {
    if (e->prop == nullptr) continue;
    if (e->default_flag && e->partner != nullptr && e->partner->prop != nullptr) e->partner->prop->Capture(*this);
    e->prop->Apply(*this);
  }
  // The font follows when a run is drawn (SyncFont): the switches of runs
  // that do not show re-create no font.
}

void cComplexText::Interpret(const rTCToken*& cursor, const rTCToken* end, cHyperLinks* links,
                             cLayoutEntries* entries) {
  // Inside a paragraph: hand pending scopes over; between paragraphs: start
  // one.
  const auto open_paragraph = [&] {
    if (mBits == nullptr)
      StartParagraph();
    else
      FlushPendingStyles();
  };
  const auto add_text = [&](cEncoding* text) {
    open_paragraph();
    mBits->AddEncodedText(text);
  };
  const auto finish = [&] {
    if (mBits != nullptr) FinishParagraph(mBits, links, entries);
    mBits.reset();
  };
  const auto hand_styles = [&](std::unique_ptr<cPropertyEntries>& styles) {
    if (mBits != nullptr)
      mBits->AddStyleSwitch(styles);
    else
      entries->AddStyles(std::move(styles));
  };

  for (const rTCToken* t = cursor; t != nullptr; t = t->next) {
    cursor = t;
    switch (t->kind) {
      case TCT_CONTROL: {
        const rTCT_CONTROL* c = t->Control();
        if (mBits != nullptr && c != nullptr &&
            (c->kind == cnControlCR || c->kind == cnControlLF || c->kind == cnControlCRLF))
          mBits->AddBreakSpace();
        break;
      }
      case TCT_DATA:
        if (t->Data() != nullptr) add_text(t->Data());
        break;
      case TCT_SPACE:
        if (mBits != nullptr) {
          FlushPendingStyles();
          mBits->AddSpaces(0);
        }
        break;
      case TCT_NBSP:
        if (mBits == nullptr) {
          // Literal no-break spaces at a paragraph's start count as one.
          StartParagraph();
          mBits->AddNoBreakSpaces(1);
        } else {
          FlushPendingStyles();
          mBits->AddNoBreakSpaces(int32_t(std::clamp<int64_t>(t->Count(), 0, cnBitMaxCount)));
        }
        break;
      case TCT_PROPERTIES: {
        const cTCProperties* list = t->Properties();
        const rTCToken* close = t->partner;
        if (list == nullptr || close == nullptr || close->kind != TCT_PROPERTIES_END || close->Properties() != nullptr)
          break;
        std::unique_ptr<cPropertyEntries> restore;
        std::unique_ptr<cPropertyEntries> news = ParseInlineProperties(list->First(), restore);
        if (news == nullptr || restore == nullptr) break;
        if (mScopes == nullptr) mScopes = std::make_unique<cPropertiesStack>();
        if (mScopes->Count() >= cnMaxOpenScopes) raise_base_error(errQLMCall, "{scopes.depth}");
        rPropertyScope* scope = mScopes->Append(1);
        if (scope == nullptr) raise_base_error(errNEnoughMem, "{not scopes.Append}");
        scope->match.kind = TCT_PROPERTIES;
        scope->match.partner_token = close;
        scope->restore_entries = std::move(restore);
        if (mBits != nullptr)
          mBits->AddStyleSwitch(news);
        else
          scope->new_entries = std::move(news);
        mCurrentScope = scope;
        break;
      }
      case TCT_PROPERTIES_END: {
        rPropertyScope* scope = mCurrentScope;
        if (scope == nullptr || !tblocks_is_closing(t, &scope->match)) break;
        PreviewStyles(scope->restore_entries.get(), "{not pe.prop.Preview(Self )}");
        if (scope->new_entries == nullptr && scope->restore_entries != nullptr) hand_styles(scope->restore_entries);
        mCurrentScope = scope->prev;
        mScopes->RemoveLast(1);
        break;
      }
      case TCT_METADATA: {
        const rTCT_METADATA* m = t->Metadata();
        if (m == nullptr || m->Properties() == nullptr ||
            !tblocks_is_metadata(t, tc_metadata_bit(cnMetadataProperties), "text", "", nullptr))
          break;
        std::unique_ptr<cPropertyEntries> styles = ParseTextProperties(m->Properties()->First());
        if (styles != nullptr) hand_styles(styles);
        break;
      }
      case TCT_STRUCTURE: {
        if (t->partner == nullptr || !tblocks_is_structure(t, "tags", "", nullptr)) break;
        finish();
        BuildTagTable(t, t->partner, links, entries);
        cursor = t;
        break;
      }
      case TCT_INSERTABLE: {
        const rTCT_INSERTABLE* ins = t->Insertable();
        if (ins == nullptr) break;
        int32_t n = 0;
        if (ins->kind == cnInsertableName) {
          if (IsNoBreakInsertable(ins, n)) {
            open_paragraph();
            mBits->AddNoBreakSpaces(n);
          } else if (IsSpaceInsertable(ins, n)) {
            open_paragraph();
            mBits->AddSpaces(n);
          } else if (IsParagraphInsertable(ins, n)) {
            finish();
            auto box = std::make_unique<cBoxSpace>(cnSpaceVertical, n);
            cBoxSpace& ref = *box;
            entries->AddBox(std::move(box));
            if (!ref.Format(*this, links)) raise_base_error(errQLMCall, "{not le.spac.Format(Self)}");
          }
        } else if (ins->kind == cnInsertableText) {
          if (ins->Text() != nullptr) add_text(ins->Text());
        } else if (ins->kind == cnInsertableTildes) {
          open_paragraph();
          mBits->AddCharString(string_fill('~', ins->count));
        }
        break;
      }
      case TCT_PAREN_CLOSE:
        if (mBits != nullptr) {
          FlushPendingStyles();
          mBits->AddLineBreaks(1);
        }
        break;
      default: break;
    }
    if (t == end) break;
  }
  finish();
}

void cComplexText::FinishParagraph(std::unique_ptr<cTextBits>& bits, cHyperLinks* links, cLayoutEntries* entries) {
  if (mParagraphSink) {
    mParagraphSink(bits);
    bits.reset();
    return;
  }
  AssembleParagraph(bits, links, entries);
}
