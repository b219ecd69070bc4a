// Style properties: preview, capture and apply of each kind, the lists, and
// the readers that turn the properties of a "~{text" tag or a "~<" tag into
// property lists.
#include <cmath>

#include "qlm_base_codes.h"
#include "qlm_base_util.h"
#include "qlm_colors.h"
#include "qlm_complex_text.h"
#include "qlm_encoding.h"
#include "qlm_font.h"
#include "qlm_parser_vormcode_colors.h"
#include "qlm_renderer.h"

// ---------------------------------------------------------------------------
// Property kinds.

bool cLayoutProperty::Preview(cComplexText&) { return true; }
void cLayoutProperty::Capture(cComplexText&) {}
void cLayoutProperty::Apply(cComplexText&) {}

bool cPropertyString::Preview(cComplexText& doc) {
  if (mId == cnPropFontFace) {
    doc.SetFontName(mText);
  } else if (mId == cnPropHRef) {
    doc.mCurrentLink = mText.empty() ? nullptr : this;
  }
  return true;
}

void cPropertyString::Apply(cComplexText& doc) {
  if (mId == cnPropFontFace) doc.SetFontName(mText);
}

bool cPropertyValue::Preview(cComplexText& doc) {
  if (mId == cnPropSpacing) doc.mCurrentSpacing = mValue;
  return true;
}

void cPropertyValue::Apply(cComplexText& doc) { Preview(doc); }

bool cPropertyUnitValue::Preview(cComplexText& doc) {
  if (mUnit == cnUnitPixels)
    doc.SetFontSize(mSize);
  else
    doc.SetFontSizePt(mSize);
  return true;
}

void cPropertyUnitValue::Capture(cComplexText& doc) {
  mSize = doc.FontSize();
  mUnit = cnUnitPixels;
}

void cPropertyUnitValue::Apply(cComplexText& doc) { Preview(doc); }

namespace {

void set_style_bit(cComplexText& doc, uint8_t bit, bool on) {
  const uint8_t style = doc.FontStyle();
  doc.SetFontStyle(on ? uint8_t(style | bit) : uint8_t(style & ~bit));
}

}  // namespace

bool cPropertyStatus::Preview(cComplexText& doc) {
  switch (mId) {
    case cnPropBold: set_style_bit(doc, 1, mValue); break;
    case cnPropItalic: set_style_bit(doc, 2, mValue); break;
    case cnPropFlat:
      if (doc.mRenderer != nullptr) doc.mRenderer->SetTextRenderMode(mValue ? 0 : 1);
      doc.mFlat = mValue;
      break;
    case cnPropOutline:
      if (doc.mRenderer != nullptr) doc.mRenderer->SetTextRenderMode(mValue ? 1 : 0);
      doc.mFlat = !mValue;
      break;
    default: break;
  }
  return true;
}

void cPropertyStatus::Capture(cComplexText& doc) {
  cRenderer* r = doc.mRenderer;
  switch (mId) {
    case cnPropBold: mValue = (doc.FontStyle() & 1) != 0; break;
    case cnPropItalic: mValue = (doc.FontStyle() & 2) != 0; break;
    case cnPropStrikeOut:
      if (r != nullptr) mValue = r->IsStrikeOut() != 0;
      break;
    case cnPropUnderline:
      if (r != nullptr) mValue = r->IsUnderline() != 0;
      break;
    case cnPropWordsOnly:
      if (r != nullptr) mValue = r->GetUnderlineStyle() != 0;
      break;
    case cnPropFlat:
      if (r != nullptr) mValue = r->GetTextRenderMode() == 0;
      break;
    case cnPropOutline:
      if (r != nullptr) mValue = r->GetTextRenderMode() == 1;
      break;
    default: break;
  }
}

void cPropertyStatus::Apply(cComplexText& doc) {
  cRenderer* r = doc.mRenderer;
  switch (mId) {
    case cnPropBold: set_style_bit(doc, 1, mValue); break;
    case cnPropItalic: set_style_bit(doc, 2, mValue); break;
    case cnPropStrikeOut:
      if (r != nullptr) r->SetStrikeOut(mValue ? 1 : 0, 0);
      break;
    case cnPropUnderline:
      if (r != nullptr) r->SetUnderline(mValue ? 1 : 0, 0);
      break;
    case cnPropWordsOnly:
      if (r != nullptr) {
        r->SetStrikeOutStyle(mValue ? 1 : 0);
        r->SetUnderlineStyle(mValue ? 1 : 0);
      }
      break;
    case cnPropFlat:
      if (r != nullptr) r->SetTextRenderMode(mValue ? 0 : 1);
      break;
    case cnPropOutline:
      if (r != nullptr) r->SetTextRenderMode(mValue ? 1 : 0);
      break;
    default: break;
  }
}

bool cPropertyAlign::Preview(cComplexText& doc) {
  if (mId == cnPropAlignX)
    doc.mCurrentAlignX = mValue;
  else if (mId == cnPropAlignY)
    doc.mCurrentAlignY = mValue;
  return true;
}

void cPropertyAlign::Apply(cComplexText& doc) { Preview(doc); }

bool cPropertyColor::Preview(cComplexText& doc) {
  switch (mId) {
    case cnPropTextColor: doc.mTextColor = mColor; break;
    case cnPropTextBack: doc.mTextBack = mColor; break;
    case cnPropPenColor: doc.mPenColor = mColor; break;
    case cnPropFillColor: doc.mFillColor = mColor; break;
    default: break;
  }
  return true;
}

void cPropertyColor::Capture(cComplexText& doc) {
  cRenderer* r = doc.mRenderer;
  if (r == nullptr) return;
  switch (mId) {
    case cnPropTextColor: mColor = color_swap_rb(r->GetTextColor()); break;
    case cnPropTextBack: mColor = r->IsTextBack() ? color_swap_rb(r->GetTextBackColor()) : 0; break;
    case cnPropPenColor: mColor = r->IsPenOn() && r->IsPenSolid() ? color_swap_rb(r->GetPenColor()) : 0; break;
    case cnPropFillColor: mColor = r->IsFillOn() && r->IsFillSolid() ? color_swap_rb(r->GetFillColor()) : 0; break;
    default: break;
  }
}

void cPropertyColor::Apply(cComplexText& doc) { doc.ApplyColor(mId, mColor); }

void cComplexText::ApplyColor(uint8_t id, uint32_t color) {
  const int slot = id == cnPropTextColor   ? 0
                   : id == cnPropTextBack  ? 1
                   : id == cnPropPenColor  ? 2
                   : id == cnPropFillColor ? 3
                                           : -1;
  if (slot < 0) return;
  cRenderer* r = mRenderer;
  if (r == nullptr) return;
  mAppliedColors.set = uint8_t(mAppliedColors.set | (1u << slot));
  mAppliedColors.color[slot] = color;
  switch (id) {
    case cnPropTextColor: r->SetTextColorARGB(color); break;
    case cnPropTextBack:
      if (color == 0)
        r->TextBackOff();
      else
        r->SetTextBackColorARGB(color);
      break;
    case cnPropPenColor:
      if (color == 0) {
        r->PenOff();
      } else {
        r->PenSolid();
        r->SetPenColorARGB(color);
      }
      break;
    case cnPropFillColor:
      if (color == 0) {
        r->FillOff();
      } else {
        r->FillSolid();
        r->SetFillColorARGB(color);
      }
      break;
    default: break;
  }
}

// ---------------------------------------------------------------------------
// Lists.

rPropertyEntry* cPropertyEntries::Add(std::unique_ptr<cLayoutProperty> prop) {
  rPropertyEntry* e = Append();
  e->prop = std::move(prop);
  return e;
}

rVarDecl* cVarDecls::Find(std::string_view name) const {
  const auto it = mIndex.find(string_trim_upper(name));
  return it == mIndex.end() ? nullptr : it->second;
}

void cVarDecls::Declare(std::string_view name, const rTCProperty* value) {
  std::string key = string_trim_upper(name);
  if (rVarDecl* d = Find(key)) {
    d->value = value;
    return;
  }
  rVarDecl* d = Append(1);
  if (d == nullptr) raise_base_error(errNEnoughMem, "{not vars.Append}");
  d->name = key;
  d->value = value;
  mIndex.emplace(std::move(key), d);
}

void cVarDecls::RemoveAllVars() {
  mIndex.clear();
  Clear();
}

rLayoutEntry::~rLayoutEntry() = default;

uint8_t rLayoutEntry::Kind() const {
  if (styles != nullptr) return cnEntryStyle;
  return box != nullptr && box->IsSpacing() ? cnEntrySpacing : cnEntryBox;
}

void cLayoutEntries::AddBox(std::unique_ptr<cLayoutBox> box) {
  rLayoutEntry* e = Append();
  e->box = std::move(box);
}

void cLayoutEntries::AddStyles(std::unique_ptr<cPropertyEntries> styles) {
  rLayoutEntry* e = Append();
  e->styles = std::move(styles);
}

// ---------------------------------------------------------------------------
// Value readers: a variable reference is followed to the declaring
// property; a reference to nothing, or a chain longer than cnMaxVarHops (a
// cycle), reads as nothing.

namespace {

const rTCProperty* resolve(const cVarDecls* vars, const rTCProperty* entry) {
  for (int32_t hops = 0; entry != nullptr && entry->value.kind == ET_VAR; ++hops) {
    const std::string* name = entry->value.String();
    if (hops >= cnMaxVarHops || vars == nullptr || name == nullptr) return nullptr;
    const rVarDecl* d = vars->Find(*name);
    if (d == nullptr) return nullptr;
    entry = d->value;
  }
  return entry;
}

struct rVocabulary {
  const char* name;
  uint8_t id;
  bool text_tag;    // allowed in a "~{text" tag
  bool inline_tag;  // allowed in a "~<" tag
};

constexpr rVocabulary kVocabulary[] = {
    {"ALIGNX", cnPropAlignX, true, false},   {"ALIGNY", cnPropAlignY, true, false},
    {"SPACING", cnPropSpacing, true, false}, {"FF", cnPropFontFace, true, true},
    {"FS", cnPropFontSize, true, true},      {"B", cnPropBold, true, true},
    {"I", cnPropItalic, true, true},         {"S", cnPropStrikeOut, true, true},
    {"U", cnPropUnderline, true, true},      {"JW", cnPropWordsOnly, true, true},
    {"FLAT", cnPropFlat, true, true},        {"OUTLN", cnPropOutline, true, true},
    {"CT", cnPropTextColor, true, true},     {"CB", cnPropTextBack, true, true},
    {"CP", cnPropPenColor, true, true},      {"CF", cnPropFillColor, true, true},
    {"HREF", cnPropHRef, false, true},
};

// The id of a vocabulary name allowed in the tag kind, 0 when none.
uint8_t vocabulary_id(const std::string& name, bool text_tag) {
  const std::string key = string_trim_upper(name);
  for (const rVocabulary& v : kVocabulary)
    if (key == v.name) return (text_tag ? v.text_tag : v.inline_tag) ? v.id : 0;
  return 0;
}

// The default-flag slot of a property id, -1 for none.
int default_slot(uint8_t id) {
  switch (id) {
    case cnPropStrikeOut: return cnDefStrikeOut;
    case cnPropUnderline: return cnDefUnderline;
    case cnPropWordsOnly: return cnDefWordsOnly;
    case cnPropFlat:
    case cnPropOutline: return cnDefFlat;
    case cnPropTextColor: return cnDefTextColor;
    case cnPropTextBack: return cnDefTextBack;
    case cnPropPenColor: return cnDefPenColor;
    case cnPropFillColor: return cnDefFillColor;
    default: return -1;
  }
}

bool previewed_at_once(uint8_t id, bool text_tag) {
  switch (id) {
    case cnPropFontFace:
    case cnPropFontSize:
    case cnPropBold:
    case cnPropItalic: return true;
    case cnPropTextColor:
    case cnPropTextBack:
    case cnPropPenColor:
    case cnPropFillColor:
    case cnPropHRef: return !text_tag;
    default: return false;
  }
}

}  // namespace

bool cComplexText::ValueText(const rTCProperty* entry, std::string& result) {
  return tblocks_property_text(resolve(mVars.get(), entry), result);
}
bool cComplexText::ValueInt(const rTCProperty* entry, int32_t& result) {
  return tblocks_property_int(resolve(mVars.get(), entry), result);
}
bool cComplexText::ValueFloat(const rTCProperty* entry, double& result) {
  return tblocks_property_float(resolve(mVars.get(), entry), result);
}
bool cComplexText::ValueBool(const rTCProperty* entry, bool& result) {
  return tblocks_property_bool(resolve(mVars.get(), entry), result);
}
bool cComplexText::ValueColor(const rTCProperty* entry, uint32_t& result) {
  const rTCProperty* p = resolve(mVars.get(), entry);
  return p != nullptr && tblocks_color(p, result);
}

bool cComplexText::ParseFontSize(const rTCProperty* entry, double& size, uint8_t& mode, uint8_t& unit, double& given) {
  if (entry == nullptr) return false;
  // The unit is the property's own type suffix ("fs:px"), not the one of a
  // variable it refers to.
  const bool pixels = entry->type != nullptr && string_trim_upper(entry->type->name) == "PX";
  const uint8_t u = pixels ? cnUnitPixels : cnUnitPoints;
  const rTCProperty* p = resolve(mVars.get(), entry);
  if (p == nullptr) return false;
  double s = 0;
  double g = 0;
  uint8_t m = cnSizeAbsolute;
  if (p->value.kind == ET_INTEGER || p->value.kind == ET_FLOAT) {
    if (!tblocks_property_float(p, g)) return false;
    s = g;
  } else {
    std::string text;
    if (!tblocks_property_text(p, text) || text.size() < 2) return false;
    if (text[0] != '+' && text[0] != '-') return false;
    std::string_view digits(text.data() + 1, text.size() - 1);
    if (digits.back() == '%') {
      m = cnSizePercent;
      digits.remove_suffix(1);
    } else {
      m = cnSizeRelative;
    }
    if (digits.empty()) return false;
    for (char c : digits)
      if ((c < '0' || c > '9') && c != '.') return false;
    const double number = string_to_float(digits, cnTypeRealInt64, 0);
    if (!(number > 0) || mFont == nullptr) return false;
    g = text[0] == '-' ? -number : number;
    const double base = pixels ? FontSize() : FontSizePt();
    s = m == cnSizeRelative ? base + g : base + base / 100 * g;
  }
  // A size of 0 or below would select the default size or flip the glyphs;
  // like any other unreadable value it makes the property absent.
  if (!std::isfinite(s) || !(s > 0)) return false;
  size = s;
  mode = m;
  unit = u;
  given = g;
  return true;
}

namespace {

// Reads the value of a vocabulary property; nil when it cannot be read.
std::unique_ptr<cLayoutProperty> read_property(cComplexText& doc, uint8_t id, const rTCProperty* p) {
  switch (id) {
    case cnPropAlignX:
    case cnPropAlignY: {
      std::string text;
      if (!doc.ValueText(p, text)) return nullptr;
      const std::string key = string_trim_upper(text);
      uint8_t value = 0;
      if (id == cnPropAlignX) {
        // clang-format off
        if (key == "LEFT") value = ALIGN_LEFT;
        else if (key == "CENTER") value = ALIGN_CENTER;
        else if (key == "RIGHT") value = ALIGN_RIGHT;
        else if (key == "JUSTIFY") value = ALIGN_JUSTIFY;
        else if (key == "WIDTH") value = ALIGN_WIDTH;
        // clang-format on
      } else {
        if (key == "TOP")
          value = ALIGN_TOP;
        else if (key == "CENTER")
          value = ALIGN_CENTER;
        else if (key == "BOTTOM")
          value = ALIGN_BOTTOM;
      }
      if (value == 0) return nullptr;
      return std::make_unique<cPropertyAlign>(id, value);
    }
    case cnPropSpacing: {
      double value = 0;
      if (!doc.ValueFloat(p, value) || !std::isfinite(value)) return nullptr;
      return std::make_unique<cPropertyValue>(id, value);
    }
    case cnPropFontFace:
    case cnPropHRef: {
      std::string text;
      if (!doc.ValueText(p, text)) return nullptr;
      return std::make_unique<cPropertyString>(id, std::move(text));
    }
    case cnPropFontSize: {
      auto prop = std::make_unique<cPropertyUnitValue>(id);
      if (!doc.ParseFontSize(p, prop->mSize, prop->mMode, prop->mUnit, prop->mGiven)) return nullptr;
      return prop;
    }
    case cnPropTextColor:
    case cnPropTextBack:
    case cnPropPenColor:
    case cnPropFillColor: {
      uint32_t color = 0;
      if (!doc.ValueColor(p, color)) return nullptr;
      return std::make_unique<cPropertyColor>(id, color);
    }
    default: {
      bool value = false;
      if (!doc.ValueBool(p, value)) return nullptr;
      return std::make_unique<cPropertyStatus>(id, value);
    }
  }
}

// The formatting-state field of a status or colour property takes the value.
void set_state_field(cComplexText& doc, const cLayoutProperty& prop) {
  switch (prop.mId) {
    case cnPropStrikeOut: doc.mStrikeOut = static_cast<const cPropertyStatus&>(prop).mValue; break;
    case cnPropUnderline: doc.mUnderline = static_cast<const cPropertyStatus&>(prop).mValue; break;
    case cnPropWordsOnly: doc.mWordsOnly = static_cast<const cPropertyStatus&>(prop).mValue; break;
    case cnPropFlat: doc.mFlat = static_cast<const cPropertyStatus&>(prop).mValue; break;
    case cnPropOutline: doc.mFlat = !static_cast<const cPropertyStatus&>(prop).mValue; break;
    case cnPropTextColor: doc.mTextColor = static_cast<const cPropertyColor&>(prop).mColor; break;
    case cnPropTextBack: doc.mTextBack = static_cast<const cPropertyColor&>(prop).mColor; break;
    case cnPropPenColor: doc.mPenColor = static_cast<const cPropertyColor&>(prop).mColor; break;
    case cnPropFillColor: doc.mFillColor = static_cast<const cPropertyColor&>(prop).mColor; break;
    default: break;
  }
}

// A property holding the value in force now, for the restore list.
std::unique_ptr<cLayoutProperty> value_in_force(cComplexText& doc, const cLayoutProperty& prop) {
  switch (prop.mId) {
    case cnPropFontFace: return std::make_unique<cPropertyString>(prop.mId, doc.FontName());
    case cnPropHRef:
      return std::make_unique<cPropertyString>(prop.mId,
                                               doc.mCurrentLink != nullptr ? doc.mCurrentLink->GetText() : "");
    case cnPropFontSize: {
      auto r = std::make_unique<cPropertyUnitValue>(prop.mId);
      r->mUnit = static_cast<const cPropertyUnitValue&>(prop).mUnit;
      r->mMode = cnSizeAbsolute;
      r->mSize = r->mUnit == cnUnitPixels ? doc.FontSize() : doc.FontSizePt();
      r->mGiven = r->mSize;
      return r;
    }
    case cnPropBold: return std::make_unique<cPropertyStatus>(prop.mId, (doc.FontStyle() & 1) != 0);
    case cnPropItalic: return std::make_unique<cPropertyStatus>(prop.mId, (doc.FontStyle() & 2) != 0);
    case cnPropStrikeOut: return std::make_unique<cPropertyStatus>(prop.mId, doc.mStrikeOut);
    case cnPropUnderline: return std::make_unique<cPropertyStatus>(prop.mId, doc.mUnderline);
    case cnPropWordsOnly: return std::make_unique<cPropertyStatus>(prop.mId, doc.mWordsOnly);
    case cnPropFlat: return std::make_unique<cPropertyStatus>(prop.mId, doc.mFlat);
    case cnPropOutline: return std::make_unique<cPropertyStatus>(prop.mId, !doc.mFlat);
    case cnPropTextColor: return std::make_unique<cPropertyColor>(prop.mId, doc.mTextColor);
    case cnPropTextBack: return std::make_unique<cPropertyColor>(prop.mId, doc.mTextBack);
    case cnPropPenColor: return std::make_unique<cPropertyColor>(prop.mId, doc.mPenColor);
    case cnPropFillColor: return std::make_unique<cPropertyColor>(prop.mId, doc.mFillColor);
    default: return nullptr;
  }
}

}  // namespace

std::unique_ptr<cPropertyEntries> cComplexText::ParseTextProperties(const rTCProperty* first) {
  auto result = std::make_unique<cPropertyEntries>();
  for (const rTCProperty* p = first; p != nullptr; p = p->next) {
    if (p->variable != 0) {
      if (!mVars) mVars = std::make_unique<cVarDecls>();
      mVars->Declare(p->name, p);
      continue;
    }
    const uint8_t id = vocabulary_id(p->name, true);
    if (id == 0) continue;
    std::unique_ptr<cLayoutProperty> prop = read_property(*this, id, p);
    if (prop == nullptr) continue;
    cLayoutProperty& ref = *prop;
    result->Add(std::move(prop));
    const int slot = default_slot(id);
    if (id == cnPropAlignX || id == cnPropAlignY || id == cnPropSpacing) {
      ref.Preview(*this);
    } else if (previewed_at_once(id, true)) {
      if (!ref.Preview(*this)) raise_base_error(errQLMCall, "{not pe.prop.Preview(Self)}");
    } else if (slot >= 0) {
      set_state_field(*this, ref);
      mDefaults[slot] = false;
    }
  }
  if (result->Count() == 0) return nullptr;
  return result;
}

std::unique_ptr<cPropertyEntries> cComplexText::ParseInlineProperties(const rTCProperty* first,
                                                                      std::unique_ptr<cPropertyEntries>& restore) {
  restore.reset();
  auto result = std::make_unique<cPropertyEntries>();
  // Restore entries run in reverse order: each new one goes in front.
  std::vector<std::pair<std::unique_ptr<cLayoutProperty>, rPropertyEntry*>> saved;
  for (const rTCProperty* p = first; p != nullptr; p = p->next) {
    if (p->variable != 0) continue;
    const uint8_t id = vocabulary_id(p->name, false);
    if (id == 0) continue;
    std::unique_ptr<cLayoutProperty> prop = read_property(*this, id, p);
    if (prop == nullptr) continue;
    std::unique_ptr<cLayoutProperty> before = value_in_force(*this, *prop);
    cLayoutProperty& ref = *prop;
    rPropertyEntry* entry = result->Add(std::move(prop));
    saved.emplace_back(std::move(before), entry);
    const int slot = default_slot(id);
    if (slot >= 0) {
      entry->default_flag = mDefaults[slot];
      set_state_field(*this, ref);
      mDefaults[slot] = false;
    }
    if (previewed_at_once(id, false) && !ref.Preview(*this))
      raise_base_error(errQLMCall, "{not pe.prop.Preview(Self)}");
  }
  if (result->Count() == 0) return nullptr;
  restore = std::make_unique<cPropertyEntries>();
  for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
    rPropertyEntry* back = restore->Add(std::move(it->first));
    back->partner = it->second;
    it->second->partner = back;
  }
  return result;
}

// ---------------------------------------------------------------------------
// The font as formatting sees it.

void cComplexText::LoadFontState() {
  mFontPending = false;
  if (mFont == nullptr) return;
  mFontName = mFont->GetName();
  mFontSize = mFont->GetSize();
  mFontStyle = mFont->GetStyle();
}

void cComplexText::SyncFont() {
  if (mDrawArea != nullptr) mDrawSynced = true;
  if (!mFontPending || mFont == nullptr) return;
  mFontPending = false;
  if (!float_equal(mFont->GetSize(), mFontSize)) mFont->SetSize(mFontSize);
  if (mFont->GetName() != mFontName) mFont->SetName(mFontName);
  if (mFont->GetStyle() != mFontStyle) mFont->SetStyle(mFontStyle);
  // What the font made of the request is what formatting sees from now on.
  if (mDrawArea != nullptr &&
      (mFontName != mFont->GetName() || mFontSize != mFont->GetSize() || mFontStyle != mFont->GetStyle()))
    mDrawNormalised = true;
  mFontName = mFont->GetName();
  mFontSize = mFont->GetSize();
  mFontStyle = mFont->GetStyle();
}

double cComplexText::FontSizePt() const {
  const int32_t dpi = mFont != nullptr ? mFont->GetDpiY() : 96;
  return dpi == 0 ? 0 : mFontSize * 72 / dpi;
}

void cComplexText::SetFontName(const std::string& name) {
  if (name == mFontName) return;
  mFontName = name;
  mFontPending = true;
}

void cComplexText::SetFontSize(double pixels) {
  if (float_equal(pixels, mFontSize)) return;
  mFontSize = pixels;
  mFontPending = true;
}

void cComplexText::SetFontSizePt(double points) {
  const int32_t dpi = mFont != nullptr ? mFont->GetDpiY() : 96;
  SetFontSize(points * dpi / 72);
}

void cComplexText::SetFontStyle(uint8_t style) {
  if (style == mFontStyle) return;
  mFontStyle = style;
  mFontPending = true;
}

double cComplexText::FontHeight() {
  SyncFont();
  return mFont != nullptr ? mFont->GetHeight() : 0;
}
