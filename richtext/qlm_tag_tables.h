// Tag tables: the rich-text document's lists. A "~[tags]" structure holds
// rows of two columns, a tag (a generated number or letter, or any mark-up)
// and a text laid out to the remaining width. Each cell keeps its own layout
// entries, made by the same mark-up walk, so cells may hold paragraphs,
// spacing, style scopes and further tables.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "qlm_complex_text_props.h"
#include "qlm_layout_boxes.h"
#include "qlm_parser_vormcode_tokens.h"

// Tag width and pitch modes.
constexpr uint8_t cnTagWidthAuto = 0;
constexpr uint8_t cnTagWidthPercent = 1;
constexpr uint8_t cnTagWidthPixels = 2;
constexpr uint8_t cnTagWidthPoints = 3;
constexpr uint8_t cnTagWidthMillimetres = 4;
constexpr uint8_t cnTagWidthBlanks = 5;
// Tag styles.
constexpr uint8_t cnTagMarkup = 6;
constexpr uint8_t cnTagNumbers = 7;
constexpr uint8_t cnTagLetters = 8;
// The deepest nesting of tag tables inside tag tables; a deeper one fails
// formatting with 287 "{tags.depth}" (building and laying out recurse once
// per level).
constexpr int32_t cnMaxTagNesting = 32;

struct rTagRow {
  rTagRow* next = nullptr;
  std::unique_ptr<cBoxString> tag_box;
  std::unique_ptr<cLayoutEntries> tag_entries;
  std::unique_ptr<cLayoutEntries> text_entries;
  const rTCToken* tag_first = nullptr;
  const rTCToken* tag_last = nullptr;
  const rTCToken* text_first = nullptr;
  const rTCToken* text_last = nullptr;
  // Layout: the tag cell's place and size, the text cell's size and the
  // row's height. The row's top is tag_y; its text cell stands at the
  // box's text column (mWTags + mGap).
  double tag_x = 0, tag_y = 0;
  double tag_width = 0, tag_height = 0, text_width = 0, text_height = 0, row_height = 0;
  rTagRow() = default;
  ~rTagRow();
  rTagRow(const rTagRow&) = delete;
  rTagRow& operator=(const rTagRow&) = delete;
};

class cTagRows : public cArrayOf<rTagRow, 1> {
 public:
  cTagRows() : cArrayOf<rTagRow, 1>(6) {}
};

class cBoxTags : public cLayoutBox {
 public:
  cBoxTags() = default;
  bool Layout(cComplexText& doc, cHyperLinks* links, double width) override;
  void Render(cComplexText& doc, uint8_t flags, double x, double y, cHitTest* hit) override;
  void Paginate(cComplexText& doc, double& total_y, double& page_y, double page_height, int32_t& page) override;
  void RenderPage(cComplexText& doc, int32_t page, double x, double y, uint8_t flags, cHitTest* hit) override;
  // Forgets every cell: a layout may pass over a cell (no text column, a
  // tag column of 0), which must then draw nothing rather than runs and
  // links of an earlier layout.
  void Forget() override;

  cTagRows mRows;
  uint8_t mTagAlign = 2;  // eAlign: 1 left, 2 right, 3 centre
  uint8_t mTagWidthMode = cnTagWidthAuto;
  double mTagWidthValue = -1.0;
  uint8_t mPitchMode = cnTagWidthAuto;
  double mPitchValue = -1.0;
  uint8_t mTagStyle = cnTagMarkup;
  int32_t mStart = 0;
  int32_t mStep = 0;
  std::string mPrefix;
  std::string mSuffix;
  double mWTags = 0;
  double mGap = 0;
  double mWText = 0;

 private:
  // Lays the row's tag cell out to the width.
  void LayoutTag(cComplexText& doc, cHyperLinks* links, rTagRow& row, double width, const char* cell_error,
                 const char* box_error);
};

// The label of a generated tag for the counter: its decimal number, or for
// letters the character with the counter's code when that is printable
// ASCII (32..126), else "~".
std::string tag_label(uint8_t style, int64_t counter);
