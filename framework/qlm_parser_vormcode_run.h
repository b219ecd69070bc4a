// The working state of one VormCode parse and its phase handlers (internal
// to the parser module; tests drive single phases through it).
//
// One cVormCodeRun lives for one call of cParserVormCode::OpenEncoding. Run()
// is the driver loop: it reads code points from the encoding's data feed,
// reports progress, hands each code point to the handler of the current
// phase (Examine), and finishes by phase at the end of the text. Handlers
// raise framework errors; OpenEncoding turns them into a logged false.
//
// The handlers are split by family, one file each:
//   qlm_parser_vormcode.cpp           driver, running text, escape, generic
//                                     pairing, ID, LABEL, COMMENT, syntax map
//   qlm_parser_vormcode_tags.cpp      SECTION, PROPERTY, PROPERTIES and
//                                     their pairing by name
//   qlm_parser_vormcode_tags_meta.cpp METADATA, STRUCTURE, INSERTABLE and
//                                     their pairing by name
//   qlm_parser_vormcode_values.cpp    ENTRY, TYPE, DEREF, NUMB and the two
//                                     context stacks
//   qlm_parser_vormcode_embedded.cpp  EMBEDDED and the delimiter check
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "qlm_base_lists.h"
#include "qlm_parser_vormcode.h"

// ---- Estimated heap sizes, counted against the parser's memory budget -----
// One heap block's allocator overhead.
constexpr uint64_t cnVcCostBlock = 16;
// One code point stored in an encoding (units of up to 4 bytes, with the
// slack of a growing buffer), and one character of a std::string.
constexpr uint64_t cnVcCostCodePoint = 4;
constexpr uint64_t cnVcCostChar = 2;
// One pointer pushed on a pairing index (a vector that doubles).
constexpr uint64_t cnVcCostIndexSlot = 2 * sizeof(void*);
// One new key of a pairing index: the hash node, its vector and bucket;
// the key's characters come on top.
constexpr uint64_t cnVcCostIndexKey = 96;

// The stride of a list's entries (all of them 8 bytes or more).
constexpr uint64_t vc_stride(uint64_t entry_size) { return (entry_size + 7) & ~uint64_t(7); }
// An object made with new (a list's entries are counted as they are
// appended, by cVormCodeRun::ChargeAppend).
template <typename T>
constexpr uint64_t vc_cost() {
  return sizeof(T) + cnVcCostBlock;
}

class cVormCodeRun {
 public:
  cVormCodeRun(cParserVormCode* parser, cEncoding* encoding, tVormCodeProgress progress);
  ~cVormCodeRun();
  cVormCodeRun(const cVormCodeRun&) = delete;
  cVormCodeRun& operator=(const cVormCodeRun&) = delete;

  // Opens the data feed and parses to the end of the text; raises on error.
  void Run();

  // Counts `bytes` against the parser's memory budget before they are
  // allocated; raises 299 "{memory budget exceeded,budget:N}" when they do
  // not fit. What was counted goes to the parser's Spent when the run ends.
  void Charge(uint64_t bytes) {
    if (bytes > budget_left) OverBudget();
    budget_left -= bytes;
    charged += bytes;
  }
  // Counts one entry about to be appended to `list`: the pool block, the
  // record's slots, or the larger directory that this append makes the
  // list allocate (entries take no memory of their own beyond these).
  void ChargeAppend(const cArray& list);
  [[noreturn]] void OverBudget();
  uint64_t budget_left = 0;
  uint64_t charged = 0;

  // ---- The driver's state -------------------------------------------------
  cParserVormCode* parser;
  cEncoding* encoding;
  tVormCodeProgress progress;
  cVormCodeTokens* tokens;
  bool record_map;

  uint8_t phase = cnPhaseText;
  cPhaseStack phases;
  int32_t current = -2;   // the code point being examined
  int32_t pushback = -1;  // -1: none; else examined again next
  int64_t i = 0;          // ordinal of the current code point (1-based)
  int32_t length = 0;
  int32_t step = 0;

  // State variables (the tag state is shared by SECTION, PROPERTY,
  // METADATA, STRUCTURE and INSERTABLE; the value sub-state is also the
  // LABEL state and the alias return state).
  uint8_t tag_state = 0;
  uint8_t properties_state = 0;
  uint8_t value_state = 0;
  uint8_t value_substate = 0;
  uint8_t type_state = 0;
  uint8_t deref_state = 0;
  uint8_t embedded_state = 0;

  rTCToken* token = nullptr;         // the current token
  rTCToken* last_section = nullptr;  // the section "~\\" pairs with
  std::string* target = nullptr;     // where ID and LABEL append
  uint8_t id_map_kind = 0;           // map kind of the rest of a name
  bool label_colon = false;          // a ":" was seen in the label
  bool parenthesized = false;        // the property list may end with ")"
  bool control_pair = false;         // CR LF pair flag of a control run

  // Value, type and reference context.
  cTCProperties* cur_properties = nullptr;
  rTCProperty* cur_property = nullptr;
  cTCEntries* cur_entries = nullptr;
  rTCEntry* cur_entry = nullptr;
  std::string number_text;
  cEncoding* text_target = nullptr;
  int32_t text_length = 0;
  rTCType* cur_type = nullptr;
  cTCDeref* cur_deref = nullptr;
  rTCDerefItem* cur_deref_item = nullptr;
  cEntryStack entry_stack;
  cDerefStack deref_stack;

  // Embedded data.
  int32_t embedded_count = 0;
  int32_t embedded_begin = 0;
  std::unique_ptr<cEncoding> delimiter;  // pending until its token takes it
  int32_t delimiter_cp = 0;
  int32_t match_count = 0;
  std::unique_ptr<cEncoding> match_cache;
  std::unique_ptr<cEncoding> match_offsets;

  // Syntax map of the current token: position counter and last entry.
  int32_t map_position = 0;
  rTCTagMapEntry* map_last = nullptr;

  // ---- Driver and shared steps ----------------------------------------------
  // Examines `current` in the current phase.
  void Examine();
  // Finishes the parse at the end of the text by phase.
  void Finish();

  // Appends a token of kind 0 and makes it current.
  rTCToken* NewToken();
  // The current code point is examined again (i does not advance).
  void HandBack() { pushback = current; }
  void PushPhase(uint8_t p);
  // Pops the phase stack into the phase (36 when empty).
  void PopPhase();
  // Raises 300 with the phase, its state, the next text point and i.
  [[noreturn]] void SyntaxError();
  // Raises 301 "{ph_main=<phase>}".
  [[noreturn]] void UnfinishedTag(const char* phase_name);

  // Running text.
  void StartRun(int32_t c);  // as TEXT does with a new token
  void StartData(int32_t c);
  void AppendData(int32_t c);
  void StartControl(int32_t c);
  void ExtendControl(int32_t c);
  void FinishControl();
  void PhaseTextLike(int32_t c);  // new token, then as TEXT
  void PhaseEscape(int32_t c);
  void OpenTag(const char* opening, const uint8_t* kinds, uint8_t next_phase);
  // Generic pairing of "~>" (TCT_PROPERTIES) and "~]" (TCT_STRUCTURE).
  void PairGeneric(uint8_t opening_kind);

  // Names, labels, comments.
  // Enters ID for the rest of a name appended to `into`, recording with
  // `map_kind`; the caller stores the first letter where it belongs.
  void EnterId(std::string* into, uint8_t map_kind);
  // Enters LABEL (state 10) appending to `into`.
  void EnterLabel(std::string* into, uint8_t map_kind);
  // Enters COMMENT at "{" (recorded with map kind 4).
  void EnterComment();
  void PhaseId(int32_t c);
  void PhaseLabel(int32_t c);
  void PhaseComment(int32_t c);

  // Syntax map (only when record_map is set): starts the current token's
  // map with the text `chars` (one map kind per character; `error_text`
  // names a failed adopt); records one code point with a map kind.
  void MapStart(const char* chars, const uint8_t* kinds, int32_t count, const char* error_text);
  void MapRecord(uint8_t kind, int32_t c);

  // ---- Tag phases (qlm_parser_vormcode_tags.cpp) ---------------------------
  void PhaseSection(int32_t c);
  void PhaseProperty(int32_t c);
  void PhaseProperties(int32_t c);
  void PhaseMetadata(int32_t c);
  void PhaseStructure(int32_t c);
  void PhaseInsertable(int32_t c);

  // ---- Value phases (qlm_parser_vormcode_values.cpp) -----------------------
  void PhaseEntry(int32_t c);
  void PhaseType(int32_t c);
  void PhaseDeref(int32_t c);
  void PhaseNumb(int32_t c);

  // ---- Embedded data (qlm_parser_vormcode_embedded.cpp) --------------------
  void PhaseEmbedded(int32_t c);

 private:
  // Per-kind stacks of unpaired openings since the last section token, for
  // generic pairing; filled lazily from the tokens after `scanned`.
  std::vector<rTCToken*> open_properties;
  std::vector<rTCToken*> open_structures;
  rTCToken* scanned = nullptr;
  bool feed_open = false;

 public:
  // A metadata tag's list "~{m[...]}" is read as a value list: this entry
  // is the list's enclosing value. It borrows the list (ET_LIST pointing at
  // the metadata's cTCEntries) and is never freed.
  rTCEntry metadata_list_view;
  // Delimiter search: for each matched length k, the length of the longest
  // proper prefix of the delimiter that is also a suffix of its first k
  // code points, so that a mismatch resumes inside what was matched.
  std::vector<int32_t> delimiter_fallback;

  // Pairing by name of closing properties and sections, without walking the
  // list for each closing: the unpaired properties of the property tags
  // since the last section token by variable flag and name, and the first
  // section token of each label and name; both filled lazily from the
  // tokens after `named_scanned`.
  std::unordered_map<std::string, std::vector<rTCProperty*>> open_named_properties;
  std::unordered_map<std::string, rTCT_SECTION*> first_sections;
  rTCToken* named_scanned = nullptr;
  // Pairing by name of structures and metadata: the unpaired openings since
  // the last section token that a closing by name may pair with, by label
  // and name, filled lazily from the tokens after `named_scanned_meta`.
  std::unordered_map<std::string, std::vector<rTCToken*>> open_named_structures;
  std::unordered_map<std::string, std::vector<rTCToken*>> open_named_metadata;
  rTCToken* named_scanned_meta = nullptr;
};

// The name of a phase in syntax-error texts ("" for unnamed phases), and in
// unfinished-tag texts.
const char* vormcode_phase_name(uint8_t phase);
const char* vormcode_unfinished_name(uint8_t phase);
// The name of a state of a phase in syntax-error texts ("" when unnamed).
const char* vormcode_state_name(uint8_t phase, uint8_t state);
