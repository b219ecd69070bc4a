// cTextBits: the runs of one paragraph of a rich-text document, collected
// while the mark-up is walked and laid out afterwards.
//
// A run is a piece of 8-bit text, a piece of wide text (a code point of 256
// or more), a run of spaces, of no-break spaces or of line breaks, or a
// style switch (a list of style properties taking effect at that point). The
// list merges as it grows: text after text extends the same run, no-break
// spaces stick to the text before or after them, consecutive runs of spaces,
// no-break spaces and line breaks add up their counts, and text whose code
// points need more than 8 bits turns the run it joins into wide text.
//
// Every appended code point passes through the translator, an encoding made
// from the encoding registry's default id. Nothing registers an encoding, so
// it is nil and code points pass unchanged; the hook is kept on every path.
//
// Wide text is kept as 32-bit code points with the code-unit width its
// largest code point needs (2 below 65536, else 4); the layout measures and
// draws it with the renderer's 32-bit text calls.
//
// Failures raise the framework error 287 (out of memory: 203).
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <string>

class cEncoding;
class cPropertyEntries;
struct rHyperLink;

// Run kinds (3 is never produced).
constexpr uint8_t cnBitText = 1;
constexpr uint8_t cnBitWide = 2;
constexpr uint8_t cnBitSpaces = 4;
constexpr uint8_t cnBitNoBreak = 5;
constexpr uint8_t cnBitBreaks = 6;
constexpr uint8_t cnBitStyle = 7;

// The largest count a run of spaces, no-break spaces or line breaks keeps;
// sums saturate there.
constexpr int32_t cnBitMaxCount = INT32_MAX;

// The code points of a wide run. Few runs are wide, so the text is held
// apart and a run of another kind carries a single pointer; read as an empty
// text until something is stored.
class cWideText {
 public:
  const char32_t* data() const { return mText ? mText->data() : U""; }
  size_t size() const { return mText ? mText->size() : 0; }
  bool empty() const { return size() == 0; }
  const char32_t* begin() const { return data(); }
  const char32_t* end() const { return data() + size(); }
  cWideText& operator=(std::u32string text) {
    Text() = std::move(text);
    return *this;
  }
  cWideText& operator+=(const std::u32string& text) {
    Text() += text;
    return *this;
  }
  cWideText& append(size_t n, char32_t c) {
    Text().append(n, c);
    return *this;
  }

 private:
  std::u32string& Text() {
    if (!mText) mText = std::make_unique<std::u32string>();
    return *mText;
  }
  std::unique_ptr<std::u32string> mText;
};

struct rMeasuredBit;
struct rTextRun;
struct rStyleBit;

// One run. A paragraph of a few words holds a few of these and documents
// hold many paragraphs, so a run holds only what its kind needs: every run
// has this header; runs of spaces and of line breaks add their measured size
// and position (rMeasuredBit), text, wide text and no-break runs add their
// text and hyperlink record (rTextRun), and a style switch adds only its
// list (rStyleBit). The kind says which a run is; a run changes kind only
// among text, wide text and no-break spaces.
struct rTextBit {
  rTextBit* next = nullptr;
  // Set by the paragraph assembly on the first run of a word: the word's
  // last run (itself for a one-run word).
  rTextBit* word_end = nullptr;
  uint8_t kind : 3 = 0;
  bool visible : 1 = false;
  bool line_end : 1 = false;
  // Code-unit width of a wide run (kind 2): 1, 2 or 4.
  uint8_t unit : 3 = 0;
  // Layout alignments (eAlign, below 8).
  uint8_t align_x : 4 = 0;
  uint8_t align_y : 4 = 0;
  // Kinds 4, 5 and 6: the count.
  int32_t count = 0;

  // The measured fields: every kind but a style switch.
  rMeasuredBit& AsMeasured();
  const rMeasuredBit& AsMeasured() const;
  // The text fields: kinds 1, 2 and 5.
  rTextRun& AsRun();
  const rTextRun& AsRun() const;
  // A style switch's list; nil for every other kind.
  cPropertyEntries* Styles() const;
  // A style switch's list, to take it over (kind 7 only).
  std::unique_ptr<cPropertyEntries>& StyleList();
};

// Layout: measured size (the line height the run claims is its height) and
// the line's spacing.
struct rMeasuredBit : rTextBit {
  double width = 0;
  double height = 0;
  double line_spacing = 0;
};

struct rTextRun : rMeasuredBit {
  // Layout: position inside the box (runs of spaces and line breaks are
  // never drawn and have none) and the hyperlink record.
  double x = 0;
  double y = 0;
  rHyperLink* link = nullptr;
  // Kind 1 (and 5 once text joins it) the text; kind 2 the wide text.
  std::string text;
  cWideText wide;
};

struct rStyleBit : rTextBit {
  std::unique_ptr<cPropertyEntries> styles;
  rStyleBit();
  rStyleBit(rStyleBit&&) noexcept;
  ~rStyleBit();
};

inline rMeasuredBit& rTextBit::AsMeasured() { return static_cast<rMeasuredBit&>(*this); }
inline const rMeasuredBit& rTextBit::AsMeasured() const { return static_cast<const rMeasuredBit&>(*this); }
inline rTextRun& rTextBit::AsRun() { return static_cast<rTextRun&>(*this); }
inline const rTextRun& rTextBit::AsRun() const { return static_cast<const rTextRun&>(*this); }
inline cPropertyEntries* rTextBit::Styles() const {
  return kind == cnBitStyle ? static_cast<const rStyleBit*>(this)->styles.get() : nullptr;
}
inline std::unique_ptr<cPropertyEntries>& rTextBit::StyleList() { return static_cast<rStyleBit*>(this)->styles; }

// The runs of one paragraph. Most paragraphs hold one run: the first run
// lives inside the object; later ones are carved from blocks that double in
// size (up to 64 KB). Runs never move while the list lives.
class cTextBits {
 public:
  cTextBits();
  ~cTextBits();
  cTextBits(const cTextBits&) = delete;
  cTextBits& operator=(const cTextBits&) = delete;

  rTextBit* First() const { return mLast != nullptr ? Inline() : nullptr; }
  rTextBit* Last() const { return mLast; }
  // Drops every run.
  void Clear();
  // Takes the runs and the translator over from `from` (left empty); the
  // runs never move but the first, which comes inside this object.
  void TakeOver(cTextBits& from);

  // All code points of the encoding (First, then Next until negative).
  void AddEncodedText(cEncoding* text);
  // The bytes of the string as code points; an empty string does nothing.
  void AddCharString(const std::string& text);
  void AddNoBreakSpaces(int32_t count);
  // A space run's count grows by `count`; a new space run counts 1.
  void AddSpaces(int32_t count);
  // A space after text (a line break in the source inside a paragraph).
  void AddBreakSpace();
  void AddLineBreaks(int32_t count);
  // Appends a style switch that takes the list over (the variable is nil
  // afterwards).
  void AddStyleSwitch(std::unique_ptr<cPropertyEntries>& styles);

  // Code-unit widths after translation: 1 when every code point is below
  // 256, 2 below 65536, 4 otherwise.
  uint8_t UnitWidthOfEncoding(cEncoding* text);
  uint8_t UnitWidthOfString(const std::string& text);
  // Each byte through the translator; the low 8 bits of the result.
  std::string TranslateString(const std::string& text);

  // Tests and the layout: the translator (nil unless an encoding is
  // registered as the default).
  cEncoding* Translator() const { return mTranslator.get(); }

 private:
  struct rBlock {
    rBlock* prev;
    uint32_t size;  // bytes after the header
    uint32_t used;
  };
  int32_t Translate(int32_t code_point) const;
  // A new run of the kind at the end (its type by the kind).
  rTextBit* NewBit(uint8_t kind);
  // Room for a run of `bytes` at the end of the storage.
  void* Take(size_t bytes);
  rTextBit* Inline() const { return std::launder(reinterpret_cast<rTextBit*>(const_cast<unsigned char*>(mInline))); }
  // Appends translated code points: the merging and widening rules.
  void AddPoints(const std::u32string& points);
  std::u32string CodePoints(cEncoding* text) const;

  rBlock* mBlocks = nullptr;  // the newest block
  rTextBit* mLast = nullptr;
  std::unique_ptr<cEncoding> mTranslator;
  alignas(rTextRun) unsigned char mInline[sizeof(rTextRun)];
};

// The code-unit width of a code point: 1, 2 or 4.
constexpr uint8_t text_unit_width(int64_t code_point) { return code_point < 256 ? 1 : (code_point < 65536 ? 2 : 4); }
