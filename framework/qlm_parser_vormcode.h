// The VormCode parser: turns one VormCode text into a token list
// (qlm_parser_vormcode_tokens.h).
//
// The parser reads the text once, one code point at a time, through the
// data feed of a cEncoding, never looks ahead, and appends tokens as it goes.
// Insertables "~(...)" become tokens; they are never expanded. The grammar
// is a state machine: a current phase with a phase stack, one state
// variable per phase family, and one pushback slot through which a
// transition hands the current code point back to be examined again in the
// phase it switches to.
//
// Errors follow the log-and-fail convention: OpenEncoding and OpenFlow catch
// everything, log it in the parser's exception log, keep the ordinal of the
// code point being examined as the error position, and answer false. Codes:
// 299 storage, flow and read failures, 300 unexpected input with the text
// "{PHASE,STATE,TextPoint:<next position>,ByteOffs:<ordinal>}", 301 a text
// that ends inside a tag ("{ph_main=PHASE}"), 297 (base module) when the
// progress callback asks to stop.
//
// Memory budget: every object a parse builds (tokens, payloads, values,
// syntax maps, the code points they store, the pairing indexes) is counted
// with its estimated heap size before it is made. A parser whose count
// would pass its budget fails with 299 "{memory budget exceeded,budget:N}"
// (N the budget in bytes) at the code point being examined, so an untrusted
// text cannot make the parser hold more than about its budget whatever the
// text's shape.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "qlm_base_object.h"
#include "qlm_parser_vormcode_tokens.h"

class cEncoding;
class cFlow;
class cVormCodeRun;

constexpr int32_t errVormCodeParser = 299;
constexpr int32_t errVormCodeSyntaxError = 300;
constexpr int32_t errVormCodeUnfinishedTag = 301;

// The memory budget a parser starts with (256 MiB).
constexpr uint64_t cnVormCodeDefaultBudget = uint64_t(256) << 20;

// The module's message function: 299-301 here, everything else to the base.
std::unique_ptr<cExceptionString> qlm_parser_vormcode_exception_string(uint32_t code);

// Phases of the parser (the names are those of the error texts).
constexpr uint8_t cnPhaseSection = 1;      // SECTION
constexpr uint8_t cnPhaseProperties = 2;   // PROPERTIES
constexpr uint8_t cnPhaseProperty = 3;     // PROPERTY
constexpr uint8_t cnPhaseMetadata = 4;     // METADATA
constexpr uint8_t cnPhaseStructure = 5;    // STRUCTURE
constexpr uint8_t cnPhaseInsertable = 6;   // INSERTABLE
constexpr uint8_t cnPhaseEntry = 8;        // ENTRY (VALUE in syntax errors)
constexpr uint8_t cnPhaseType = 9;         // TYPE
constexpr uint8_t cnPhaseText = 10;        // TEXT
constexpr uint8_t cnPhaseControlRun = 12;  // CONTROL_RUN
constexpr uint8_t cnPhaseDataRun = 13;     // DATA_RUN
constexpr uint8_t cnPhaseDeref = 15;       // DEREF
constexpr uint8_t cnPhaseEmbedded = 16;    // EMBEDDED
constexpr uint8_t cnPhaseId = 18;          // ID
constexpr uint8_t cnPhaseLabel = 21;       // LABEL
constexpr uint8_t cnPhaseNbspRun = 23;     // NBSP_RUN
constexpr uint8_t cnPhaseComment = 24;     // COMMENT
constexpr uint8_t cnPhaseSpaceRun = 28;    // SPACE_RUN
constexpr uint8_t cnPhaseEscape = 29;      // ESCAPE
constexpr uint8_t cnPhaseNumb = 30;        // NUMB
constexpr uint8_t cnPhaseVar = 31;         // VAR (named by unfinished-tag texts only)
constexpr uint8_t cnPhaseError = 36;       // PHASE_ERROR (an empty phase stack)

class cParserVormCode;

// Progress: called with the parser and the percentage of the text examined;
// false stops the parse with 297.
using tVormCodeProgress = bool (*)(cParserVormCode* parser, double percent);

class cParserVormCode : public cException {
 public:
  // An empty parser; with `record_map` every tag token gets a syntax map.
  // Nil when memory runs out.
  static std::unique_ptr<cParserVormCode> Construct(bool record_map);
  // Frees the exception log, then the tokens with all payloads and maps.
  ~cParserVormCode() override;

  // Parses the whole text of an associated encoding. True when the text was
  // parsed to its end, and at once (without reading) when this parser has
  // already parsed a text. False after an error (logged); the tokens made
  // before the error stay, and a further open appends behind them.
  bool OpenEncoding(cEncoding* encoding, tVormCodeProgress progress);
  // Parses the text of an open flow read as bytes. True at once when
  // already opened.
  bool OpenFlow(cFlow* flow, tVormCodeProgress progress);

  // The first token; nil while the list is empty.
  rTCToken* FirstToken() const;
  // Name comparison of all pairing searches: exact, case kept.
  static bool SameName(std::string_view a, std::string_view b) { return a == b; }

  bool Opened() const { return mOpened; }
  cVormCodeTokens* Tokens() const { return mTokens; }
  bool RecordMap() const { return mRecordMap; }
  // The 1-based ordinal of the code point being examined when the last
  // parse failed; 0 until then.
  int32_t ErrorPosition() const { return mErrorPosition; }

  // The memory budget in bytes (cnVormCodeDefaultBudget until set). It
  // bounds everything this parser holds: a failed parse keeps what it
  // built, and a further open counts on from there.
  uint64_t Budget() const { return mBudget; }
  void SetBudget(uint64_t bytes) { mBudget = bytes; }
  // The estimated bytes counted so far; a parse never counts past the
  // budget it runs under.
  uint64_t Spent() const { return mSpent; }

 private:
  friend class cVormCodeRun;
  cParserVormCode() = default;

  bool mOpened = false;
  cVormCodeTokens* mTokens = nullptr;
  bool mRecordMap = false;
  int32_t mErrorPosition = 0;
  uint64_t mBudget = cnVormCodeDefaultBudget;
  uint64_t mSpent = 0;
};

// Module start and stop: they only count their calls.
void qlm_parser_vormcode_start();
void qlm_parser_vormcode_stop();
uint32_t qlm_parser_vormcode_start_count();
uint32_t qlm_parser_vormcode_stop_count();
