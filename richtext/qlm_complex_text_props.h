// Style properties of rich text and the lists the mark-up walk builds.
//
// A property is one style setting of the mark-up vocabulary (alignx, fs, b,
// ct, href, ...). It is previewed while a document is formatted and laid out
// (it changes the document's formatting state and font), applied while the
// document is drawn (it changes the renderer and the font), and can capture
// the renderer's current value into itself (so that a scope ending restores
// what the caller had put on the renderer).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "qlm_base_array.h"
#include "qlm_parser_vormcode_queries.h"
#include "qlm_rich_list.h"

class cComplexText;
class cLayoutBox;

// Property ids.
constexpr uint8_t cnPropAlignX = 1;
constexpr uint8_t cnPropAlignY = 2;
constexpr uint8_t cnPropSpacing = 3;
constexpr uint8_t cnPropFontFace = 4;
constexpr uint8_t cnPropFontSize = 5;
constexpr uint8_t cnPropBold = 6;
constexpr uint8_t cnPropItalic = 7;
constexpr uint8_t cnPropStrikeOut = 8;
constexpr uint8_t cnPropUnderline = 9;
constexpr uint8_t cnPropWordsOnly = 10;
constexpr uint8_t cnPropFlat = 11;
constexpr uint8_t cnPropOutline = 12;
constexpr uint8_t cnPropTextColor = 13;
constexpr uint8_t cnPropTextBack = 14;
constexpr uint8_t cnPropPenColor = 15;
constexpr uint8_t cnPropFillColor = 16;
constexpr uint8_t cnPropHRef = 17;

// Font size units and modes.
constexpr uint8_t cnSizeAbsolute = 21;
constexpr uint8_t cnSizeRelative = 22;
constexpr uint8_t cnSizePercent = 23;
constexpr uint8_t cnUnitPixels = 24;
constexpr uint8_t cnUnitPoints = 25;

class cLayoutProperty {
 public:
  explicit cLayoutProperty(uint8_t id) : mId(id) {}
  virtual ~cLayoutProperty() = default;
  cLayoutProperty(const cLayoutProperty&) = delete;
  cLayoutProperty& operator=(const cLayoutProperty&) = delete;

  // Applies the property to the formatting state and the document's font
  // while the document is formatted and laid out.
  virtual bool Preview(cComplexText& doc);
  // Reads the renderer's or the font's current value into the property.
  virtual void Capture(cComplexText& doc);
  // Applies the property to the renderer and the font while drawing.
  virtual void Apply(cComplexText& doc);

  uint8_t mId = 0;
};

class cPropertyString : public cLayoutProperty {
 public:
  cPropertyString(uint8_t id, std::string text) : cLayoutProperty(id), mText(std::move(text)) {}
  bool Preview(cComplexText& doc) override;
  void Apply(cComplexText& doc) override;
  std::string GetText() const { return mText; }
  std::string mText;
};

class cPropertyValue : public cLayoutProperty {
 public:
  cPropertyValue(uint8_t id, double value) : cLayoutProperty(id), mValue(value) {}
  bool Preview(cComplexText& doc) override;
  void Apply(cComplexText& doc) override;
  double mValue = 0;
};

class cPropertyUnitValue : public cLayoutProperty {
 public:
  explicit cPropertyUnitValue(uint8_t id) : cLayoutProperty(id) {}
  bool Preview(cComplexText& doc) override;
  void Capture(cComplexText& doc) override;
  void Apply(cComplexText& doc) override;
  double mGiven = 0;
  double mSize = 0;
  uint8_t mUnit = cnUnitPoints;
  uint8_t mMode = cnSizeAbsolute;
};

class cPropertyStatus : public cLayoutProperty {
 public:
  cPropertyStatus(uint8_t id, bool value) : cLayoutProperty(id), mValue(value) {}
  bool Preview(cComplexText& doc) override;
  void Capture(cComplexText& doc) override;
  void Apply(cComplexText& doc) override;
  bool mValue = false;
};

class cPropertyAlign : public cLayoutProperty {
 public:
  cPropertyAlign(uint8_t id, uint8_t value) : cLayoutProperty(id), mValue(value) {}
  bool Preview(cComplexText& doc) override;
  void Apply(cComplexText& doc) override;
  uint8_t mValue = 0;
};

class cPropertyColor : public cLayoutProperty {
 public:
  cPropertyColor(uint8_t id, uint32_t color) : cLayoutProperty(id), mColor(color) {}
  bool Preview(cComplexText& doc) override;
  void Capture(cComplexText& doc) override;
  void Apply(cComplexText& doc) override;
  uint32_t mColor = 0;  // 0xAARRGGBB
};

// ---------------------------------------------------------------------------
// Lists.

struct rPropertyEntry {
  rPropertyEntry* next = nullptr;
  std::unique_ptr<cLayoutProperty> prop;
  // The entry of the other list that belongs to the same change, or nil.
  rPropertyEntry* partner = nullptr;
  // The property was still at the document's default when the change was
  // made: drawing captures the renderer's value into the partner first.
  bool default_flag = false;
};

// One list per style change, most of them of one property.
class cPropertyEntries : public cRichList<rPropertyEntry> {
 public:
  // Appends an entry holding the property (raises 203 when the list cannot
  // grow).
  rPropertyEntry* Add(std::unique_ptr<cLayoutProperty> prop);
};

// One open "~<" scope.
struct rPropertyScope {
  rPropertyScope* next = nullptr;
  rPropertyScope* prev = nullptr;
  std::unique_ptr<cPropertyEntries> new_entries;      // nil once handed on
  std::unique_ptr<cPropertyEntries> restore_entries;  // nil once handed on
  rTCMatch match;
};

class cPropertiesStack : public cArrayOf<rPropertyScope, 3> {
 public:
  cPropertiesStack() : cArrayOf<rPropertyScope, 3>(6) {}
};

struct rVarDecl {
  rVarDecl* next = nullptr;
  std::string name;                    // string_trim_upper of the declared name
  const rTCProperty* value = nullptr;  // the declaring property (not owned)
};

class cVarDecls : public cArrayOf<rVarDecl, 1> {
 public:
  cVarDecls() : cArrayOf<rVarDecl, 1>(6) {}
  // The first variable of that name (compared after string_trim_upper).
  rVarDecl* Find(std::string_view name) const;
  // Declares the name at the property, or re-points an existing one.
  void Declare(std::string_view name, const rTCProperty* value);
  void RemoveAllVars();

 private:
  // Names to entries, so that a text of many variables is read in linear
  // time.
  std::unordered_map<std::string, rVarDecl*> mIndex;
};

// Layout entry kinds.
constexpr uint8_t cnEntryBox = 0;
constexpr uint8_t cnEntrySpacing = 1;
constexpr uint8_t cnEntryStyle = 2;

// An entry holds a box (a spacing box for kind 1) or a style switch's list
// (kind 2); its kind follows from what it holds, so an entry is three
// pointers (a document holds one or two per paragraph).
struct rLayoutEntry {
  rLayoutEntry* next = nullptr;
  std::unique_ptr<cLayoutBox> box;           // kinds 0 and 1
  std::unique_ptr<cPropertyEntries> styles;  // kind 2
  uint8_t Kind() const;
  rLayoutEntry() = default;
  ~rLayoutEntry();
  rLayoutEntry(const rLayoutEntry&) = delete;
  rLayoutEntry& operator=(const rLayoutEntry&) = delete;
};

// Every tag cell has a list of its own, mostly of one entry.
class cLayoutEntries : public cRichList<rLayoutEntry> {
 public:
  // A box entry (a spacing entry for a cBoxSpace).
  void AddBox(std::unique_ptr<cLayoutBox> box);
  void AddStyles(std::unique_ptr<cPropertyEntries> styles);
};
