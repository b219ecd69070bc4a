// The VormCode parser: the parser object, the driver loop, running text, the
// escape with generic pairing, names, labels, comments, the syntax map and
// the module's message function.
#include "qlm_parser_vormcode.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

#include "qlm_base_flow.h"
#include "qlm_base_util.h"
#include "qlm_encoding.h"
#include "qlm_encoding_registry.h"
#include "qlm_parser_vormcode_run.h"

namespace {

constexpr int32_t cnTab = 9;
constexpr int32_t cnLF = 10;
constexpr int32_t cnCR = 13;
constexpr int32_t cnSpace = 32;
constexpr int32_t cnNbsp = 0xA0;

// A chain of hand-backs longer than this means a transition table hands a
// code point back without changing its state; the tables never do that, so
// the parse stops rather than loop.
constexpr int32_t cnMaxHandBacks = 4096;

uint32_t g_start_count = 0;
uint32_t g_stop_count = 0;

bool is_letter(int32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool is_name_char(int32_t c) { return is_letter(c) || (c >= '0' && c <= '9'); }

[[noreturn]] void raise_parser(int32_t code, std::string_view text) {
  raise_error(code, &qlm_parser_vormcode_exception_string, text);
}

// Raises a negative encoding result as the encoding's error, anything else
// as 299, with the text.
[[noreturn]] void raise_encoding_result(int32_t result, std::string_view text) {
  if (result < 0) raise_error(result, &qlm_encoding_exception_string, text);
  raise_parser(errVormCodeParser, text);
}

// Adopts one code point into `en`, stored in 1, 2 or 4 bytes by its size.
int32_t adopt_code_point(cEncoding& en, int32_t c) {
  const int32_t unit = c < 256 ? 1 : (c < 65536 ? 2 : 4);
  uint8_t bytes[4] = {0, 0, 0, 0};
  const uint32_t v = uint32_t(c);
  for (int32_t k = 0; k < unit; ++k) bytes[k] = uint8_t(v >> (8 * k));
  return en.AdoptBuffer(bytes, unit, unit, 0, false);
}

struct rStateName {
  uint8_t phase;
  uint8_t state;
  const char* name;
};

constexpr rStateName kStateNames[] = {
    {cnPhaseSection, 10, "OPEN"},
    {cnPhaseSection, 11, "OPEN_AFTER"},
    {cnPhaseSection, 13, "ID_END"},
    {cnPhaseSection, 14, "IDLABEL_AFTER"},
    {cnPhaseSection, 23, "EXIT_OPEN"},
    {cnPhaseSection, 25, "EXIT_ID_END"},
    {cnPhaseSection, 26, "EXIT_AFTER"},
    {cnPhaseSection, 33, "PROPERTIES_AFTER"},
    {cnPhaseProperties, 10, "IDVAR_BEFORE"},
    {cnPhaseProperties, 11, "IDVAR_AFTER"},
    {cnPhaseProperties, 12, "TYPE_AFTER"},
    {cnPhaseProperties, 13, "DATA_AFTER"},
    {cnPhaseProperty, 14, "EXIT_AFTER"},
    {cnPhaseProperty, 22, "EXIT_OPEN_MORE"},
    {cnPhaseProperty, 23, "EXIT_OPEN"},
    {cnPhaseProperty, 29, "EXIT_ESCAPE"},
    {cnPhaseProperty, 33, "EXIT_NEXT"},
    {cnPhaseMetadata, 0, "NEXT_TOKEN_AFTER"},
    {cnPhaseMetadata, 1, "TYPEDECL_BEFORE"},
    {cnPhaseMetadata, 2, "TYPEDECL_END"},
    {cnPhaseMetadata, 3, "TYPEDECL_AFTER"},
    {cnPhaseMetadata, 4, "TYPEDECL_ASSIGN"},
    {cnPhaseMetadata, 10, "OPEN"},
    {cnPhaseMetadata, 11, "OPEN_AFTER"},
    {cnPhaseMetadata, 13, "ID_END"},
    {cnPhaseMetadata, 14, "ID_END_AFTER"},
    {cnPhaseMetadata, 15, "ALIAS_OPEN"},
    {cnPhaseMetadata, 16, "ALIAS_END"},
    {cnPhaseMetadata, 21, "LABEL_AFTER"},
    {cnPhaseMetadata, 23, "EXIT_OPEN"},
    {cnPhaseMetadata, 25, "EXIT_ID_END"},
    {cnPhaseMetadata, 26, "EXIT_AFTER"},
    {cnPhaseMetadata, 29, "VAR_DATA_AFTER"},
    {cnPhaseMetadata, 31, "VAR_END"},
    {cnPhaseMetadata, 32, "VAR_END_AFTER"},
    {cnPhaseMetadata, 33, "PROPERTIES_AFTER"},
    {cnPhaseMetadata, 34, "ALIAS_AFTER"},
    {cnPhaseMetadata, 35, "VAR_TYPE_AFTER"},
    {cnPhaseStructure, 10, "OPEN"},
    {cnPhaseStructure, 11, "OPEN_AFTER"},
    {cnPhaseStructure, 13, "ID_END"},
    {cnPhaseStructure, 14, "ID_END_AFTER"},
    {cnPhaseStructure, 23, "EXIT_OPEN"},
    {cnPhaseStructure, 25, "EXIT_ID_END"},
    {cnPhaseStructure, 26, "EXIT_AFTER"},
    {cnPhaseStructure, 33, "PROPERTIES_AFTER"},
    {cnPhaseInsertable, 1, "CAST_ID_END"},
    {cnPhaseInsertable, 2, "CAST_ENTRY_AFTER"},
    {cnPhaseInsertable, 3, "CAST_NEXT_AFTER"},
    {cnPhaseInsertable, 10, "OPEN"},
    {cnPhaseInsertable, 13, "ID_END"},
    {cnPhaseInsertable, 14, "ID_END_AFTER"},
    {cnPhaseInsertable, 31, "VAR_END"},
    {cnPhaseInsertable, 33, "PROPERTIES_AFTER"},
    {cnPhaseEntry, 1, "CAST_ID_END"},
    {cnPhaseEntry, 2, "CAST_ENTRY_AFTER"},
    {cnPhaseEntry, 3, "CAST_NEXT_AFTER"},
    {cnPhaseEntry, 12, "RECORD_ID_AFTER"},
    {cnPhaseEntry, 14, "ARRAY"},
    {cnPhaseEntry, 23, "NUMBER"},
    {cnPhaseEntry, 28, "DATA_SEQUENCE"},
    {cnPhaseEntry, 33, "RECORD_ENTRY_AFTER"},
    {cnPhaseType, 1, "DIM_BEFORE"},
    {cnPhaseType, 2, "DIM_AFTER"},
    {cnPhaseType, 3, "DIM_NEXT"},
    {cnPhaseType, 10, "OPEN"},
    {cnPhaseType, 11, "OPEN_CAST"},
    {cnPhaseType, 14, "ENUM_END"},
    {cnPhaseDeref, 10, "DEREF_OPEN"},
    {cnPhaseDeref, 12, "INDEX_OPEN"},
    {cnPhaseDeref, 23, "INDEX_AFTER"},
    {cnPhaseLabel, 10, "OPEN"},
    {cnPhaseLabel, 11, "NEST_END"},
    {cnPhaseLabel, 28, "STRING"},
};

}  // namespace

const char* vormcode_phase_name(uint8_t phase) {
  switch (phase) {
    case cnPhaseSection: return "SECTION";
    case cnPhaseProperties: return "PROPERTIES";
    case cnPhaseProperty: return "PROPERTY";
    case cnPhaseMetadata: return "METADATA";
    case cnPhaseStructure: return "STRUCTURE";
    case cnPhaseInsertable: return "INSERTABLE";
    case cnPhaseEntry: return "VALUE";
    case cnPhaseType: return "TYPE";
    case cnPhaseDeref: return "DEREF";
    case cnPhaseLabel: return "LABEL";
    default: return "";
  }
}

const char* vormcode_unfinished_name(uint8_t phase) {
  switch (phase) {
    case cnPhaseEntry: return "ENTRY";
    case cnPhaseEmbedded: return "EMBEDDED";
    case cnPhaseId: return "ID";
    case cnPhaseComment: return "COMMENT";
    case cnPhaseNumb: return "NUMB";
    case cnPhaseVar: return "VAR";
    default: return vormcode_phase_name(phase);
  }
}

const char* vormcode_state_name(uint8_t phase, uint8_t state) {
  for (const rStateName& row : kStateNames)
    if (row.phase == phase && row.state == state) return row.name;
  return "";
}

// ---------------------------------------------------------------------------
// Message function and module start.

std::unique_ptr<cExceptionString> qlm_parser_vormcode_exception_string(uint32_t code) {
  struct rRow {
    uint32_t code;
    const char* name;
    const char* message;
  };
  static constexpr rRow kRows[] = {
      {299, "errVormCodeParser", "VormCode parser failure."},
      {300, "errVormCodeSyntaxError", "Unexpected syntax input."},
      {301, "errVormCodeUnfinishedTag", "Encountered an unfinished VormCode Tag."},
  };
  for (const rRow& row : kRows) {
    if (row.code != code) continue;
    auto answer = std::make_unique<cExceptionString>(int32_t(code), &qlm_parser_vormcode_exception_string);
    answer->Set(row.name, localization_translate(0, row.message, 0, 0));
    return answer;
  }
  return qlm_base_exception_string(code);
}

void qlm_parser_vormcode_start() { ++g_start_count; }
void qlm_parser_vormcode_stop() { ++g_stop_count; }
uint32_t qlm_parser_vormcode_start_count() { return g_start_count; }
uint32_t qlm_parser_vormcode_stop_count() { return g_stop_count; }

// ---------------------------------------------------------------------------
// cParserVormCode

std::unique_ptr<cParserVormCode> cParserVormCode::Construct(bool record_map) {
  std::unique_ptr<cParserVormCode> parser(new (std::nothrow) cParserVormCode());
  if (!parser) return nullptr;
  parser->mTokens = new (std::nothrow) cVormCodeTokens();
  if (parser->mTokens == nullptr) return nullptr;
  parser->mRecordMap = record_map;
  return parser;
}

cParserVormCode::~cParserVormCode() { delete mTokens; }

rTCToken* cParserVormCode::FirstToken() const { return mTokens ? mTokens->First() : nullptr; }

bool cParserVormCode::OpenEncoding(cEncoding* encoding, tVormCodeProgress progress) {
  if (mOpened) return true;
  int64_t position = 0;
  const bool ok = log_and_fail(this, false, [&]() -> bool {
    if (encoding == nullptr) raise_parser(errVormCodeParser, "{en=NIL}");
    if (!encoding->IsAssociated()) raise_parser(errVormCodeParser, "{not en.IsAssociated}");
    if (mTokens == nullptr) raise_parser(errVormCodeParser, "{tokens=NIL}");
    cVormCodeRun run(this, encoding, progress);
    try {
      run.Run();
    } catch (...) {
      position = run.i;
      throw;
    }
    return true;
  });
  if (ok)
    mOpened = true;
  else
    mErrorPosition = int32_t(std::clamp<int64_t>(position, 0, INT32_MAX));
  return ok;
}

bool cParserVormCode::OpenFlow(cFlow* flow, tVormCodeProgress progress) {
  if (mOpened) return true;
  return log_and_fail(this, false, [&]() -> bool {
    if (flow == nullptr) raise_parser(errVormCodeParser, "{flow=NIL}");
    if (!flow->IsOpened()) raise_parser(errVormCodeParser, "{not flow.IsOpened}");
    int32_t error = 0;
    std::unique_ptr<cEncoding> encoding = encoding_attach(flow, 1, {}, error);
    if (!encoding) raise_parser(errVormCodeParser, "{not encoding_attach(flow,1)}");
    // OpenEncoding logs its own failure.
    return OpenEncoding(encoding.get(), progress);
  });
}

// ---------------------------------------------------------------------------
// cVormCodeRun: the driver.

cVormCodeRun::cVormCodeRun(cParserVormCode* parser, cEncoding* encoding, tVormCodeProgress progress)
    : parser(parser), encoding(encoding), progress(progress), tokens(parser->mTokens), record_map(parser->mRecordMap) {
  budget_left = parser->mBudget > parser->mSpent ? parser->mBudget - parser->mSpent : 0;
}

// What the run counted stays with the parser: its tokens keep it, also
// after a failed parse.
cVormCodeRun::~cVormCodeRun() { parser->mSpent += charged; }

void cVormCodeRun::ChargeAppend(const cArray& list) {
  const uint64_t n = list.Count();
  const uint64_t stride = vc_stride(list.EntrySize());
  rArrayGeometry g;
  g.capacity = list.Capacity();
  g.slots_per_record = list.SlotsPerRecord();
  g.record_bytes = list.RecordBytes();
  g.pool_block_bytes = list.PoolBlockBytes();
  uint64_t cost = 0;
  if (n == 0) cost += g.slots_per_record * sizeof(rArrayRecord) + cnVcCostBlock;
  bool new_pool = false;
  if (n >= g.capacity) {
    // The directory is rebuilt for the next capacity class, with slots for
    // every record that holds entries, and the next entries come from pool
    // blocks of the new size. Past the last class the append fails anyway.
    g = cArray::GeometryFor(list.InitialClass(), n + 1, uint32_t(stride));
    if (g.slots_per_record == 0) return;
    cost += g.slots_per_record * sizeof(rArrayRecord) + cnVcCostBlock +
            (n / g.slots_per_record + 1) * (g.record_bytes + cnVcCostBlock);
    new_pool = true;
  } else if (g.slots_per_record > 0 && n % g.slots_per_record == 0) {
    cost += g.record_bytes + cnVcCostBlock;
  }
  const uint64_t per_pool = std::max<uint64_t>(g.pool_block_bytes / stride, 1);
  if (new_pool || n % per_pool == 0) cost += std::max<uint64_t>(g.pool_block_bytes, stride) + 32 + cnVcCostBlock;
  Charge(cost);
}

void cVormCodeRun::OverBudget() {
  const int64_t budget = int64_t(std::min<uint64_t>(parser->mBudget, INT64_MAX));
  raise_parser(errVormCodeParser, "{memory budget exceeded,budget:" + int_to_str(0, 0, budget) + "}");
}

void cVormCodeRun::Run() {
  length = std::max(encoding->Length(), 0);
  step = length / 15;
  i = 1;
  pushback = -1;
  // The phase starts as TEXT (tests may start a run in another phase).
  current = encoding->DFOpen();
  int32_t hand_backs = 0;
  for (;;) {
    // The end of the text; -2 before the last code point is a read error.
    if (current == errEncoding_NoDataAtThatPosition && i > length) break;
    if (progress != nullptr && (i == 1 || i == length || (step > 0 && i % step == 0))) {
      const double percent = double(i) * 100.0 / double(length);
      if (!progress(parser, percent)) raise_base_error(errProgressBreak, "{cParserVormCode.Open}");
    }
    if (current < 0) {
      if (current == errEncoding_TextPointOutOfRange)
        raise_parser(errVormCodeParser, "{ch=errEncoding_TextPointOutOfRange}");
      raise_error(current, &qlm_encoding_exception_string, "{cParserVormCode.Open}");
    }
    Examine();
    if (pushback != -1) {
      if (++hand_backs > cnMaxHandBacks) raise_base_error(errInvariant, "{cParserVormCode.Open,pushback}");
      current = pushback;
      pushback = -1;
    } else {
      hand_backs = 0;
      current = encoding->DFRead();
      ++i;
    }
  }
  Finish();
}

void cVormCodeRun::Examine() {
  const int32_t c = current;
  switch (phase) {
    case cnPhaseText:
      NewToken();
      StartRun(c);
      break;
    case cnPhaseControlRun:
      if (c < cnSpace) {
        ExtendControl(c);
      } else {
        FinishControl();
        PhaseTextLike(c);
      }
      break;
    case cnPhaseDataRun:
      if (c <= cnSpace || c == '~' || c == cnNbsp)
        PhaseTextLike(c);
      else
        AppendData(c);
      break;
    case cnPhaseSpaceRun:
      if (c == cnSpace)
        ++token->payload.count;
      else
        PhaseTextLike(c);
      break;
    case cnPhaseNbspRun:
      if (c == cnNbsp)
        ++token->payload.count;
      else
        PhaseTextLike(c);
      break;
    case cnPhaseEscape: PhaseEscape(c); break;
    case cnPhaseId: PhaseId(c); break;
    case cnPhaseLabel: PhaseLabel(c); break;
    case cnPhaseComment: PhaseComment(c); break;
    case cnPhaseSection: PhaseSection(c); break;
    case cnPhaseProperty: PhaseProperty(c); break;
    case cnPhaseProperties: PhaseProperties(c); break;
    case cnPhaseMetadata: PhaseMetadata(c); break;
    case cnPhaseStructure: PhaseStructure(c); break;
    case cnPhaseInsertable: PhaseInsertable(c); break;
    case cnPhaseEntry: PhaseEntry(c); break;
    case cnPhaseType: PhaseType(c); break;
    case cnPhaseDeref: PhaseDeref(c); break;
    case cnPhaseNumb: PhaseNumb(c); break;
    case cnPhaseEmbedded: PhaseEmbedded(c); break;
    default: raise_parser(errVormCodeSyntaxError, "{ph_main=PHASE_ERROR}");
  }
}

void cVormCodeRun::Finish() {
  switch (phase) {
    case cnPhaseText:
    case cnPhaseDataRun:
    case cnPhaseSpaceRun:
    case cnPhaseNbspRun: return;
    case cnPhaseControlRun: FinishControl(); return;
    case cnPhaseEscape: StartData('~'); return;
    case cnPhaseSection:
    case cnPhaseProperties:
    case cnPhaseProperty:
    case cnPhaseMetadata:
    case cnPhaseStructure:
    case cnPhaseInsertable:
    case cnPhaseEntry:
    case cnPhaseType:
    case cnPhaseDeref:
    case cnPhaseEmbedded:
    case cnPhaseId:
    case cnPhaseLabel:
    case cnPhaseComment:
    case cnPhaseNumb:
    case cnPhaseVar: UnfinishedTag(vormcode_unfinished_name(phase));
    default: raise_parser(errVormCodeSyntaxError, "{ph_main=PHASE_ERROR}");
  }
}

rTCToken* cVormCodeRun::NewToken() {
  ChargeAppend(*tokens);
  rTCToken* t = tokens->Append(1);
  if (t == nullptr) raise_parser(errVormCodeParser, "{not tokens.Append}");
  token = t;
  map_position = 0;
  map_last = nullptr;
  return t;
}

void cVormCodeRun::PushPhase(uint8_t p) {
  const uint32_t before = phases.Count();
  phases.Push(p);
  if (phases.Count() == before) raise_parser(errVormCodeParser, "{not phases.Push}");
}

void cVormCodeRun::PopPhase() { phase = phases.Pop(); }

void cVormCodeRun::SyntaxError() {
  uint8_t state = 0;
  switch (phase) {
    case cnPhaseSection:
    case cnPhaseProperty:
    case cnPhaseMetadata:
    case cnPhaseStructure:
    case cnPhaseInsertable: state = tag_state; break;
    case cnPhaseProperties: state = properties_state; break;
    case cnPhaseEntry: state = value_state; break;
    case cnPhaseType: state = type_state; break;
    case cnPhaseDeref: state = deref_state; break;
    case cnPhaseLabel: state = value_substate; break;
    default: break;
  }
  std::string text = "{";
  text += vormcode_phase_name(phase);
  text += ',';
  text += vormcode_state_name(phase, state);
  text += ",TextPoint:";
  text += int_to_str(0, 0, encoding->DFPosition());
  text += ",ByteOffs:";
  text += int_to_str(0, 0, i);
  text += '}';
  raise_parser(errVormCodeSyntaxError, text);
}

void cVormCodeRun::UnfinishedTag(const char* phase_name) {
  raise_error(errVormCodeUnfinishedTag, &qlm_parser_vormcode_exception_string, "{ph_main=", phase_name, "}");
}

// ---------------------------------------------------------------------------
// Running text.

void cVormCodeRun::StartRun(int32_t c) {
  if (c < cnSpace) {
    StartControl(c);
  } else if (c == cnSpace) {
    token->kind = TCT_SPACE;
    token->payload.count = 1;
    phase = cnPhaseSpaceRun;
  } else if (c == '~') {
    phase = cnPhaseEscape;
  } else if (c == cnNbsp) {
    token->kind = TCT_NBSP;
    token->payload.count = 1;
    phase = cnPhaseNbspRun;
  } else {
    StartData(c);
  }
}

void cVormCodeRun::PhaseTextLike(int32_t c) {
  NewToken();
  StartRun(c);
}

void cVormCodeRun::StartData(int32_t c) {
  Charge(vc_cost<cEncoding>() + cnVcCostCodePoint);
  std::unique_ptr<cEncoding> data = std::make_unique<cEncoding>();
  const int32_t r = adopt_code_point(*data, c);
  if (r != 1) raise_encoding_result(r, "{start_data,token.data.Adopt}");
  token->kind = TCT_DATA;
  token->payload.pointer = data.release();
  phase = cnPhaseDataRun;
}

void cVormCodeRun::AppendData(int32_t c) {
  cEncoding* data = token->Data();
  if (data == nullptr) raise_parser(errVormCodeParser, "{token.data=NIL}");
  const int32_t n = data->Length();
  if (n < 0 || n == INT32_MAX) raise_parser(errVormCodeParser, "{token.data.SetLength}");
  Charge(cnVcCostCodePoint);
  const int32_t r = data->SetLength(n + 1, c);
  if (r < 0) raise_error(r, &qlm_encoding_exception_string, "{token.data.SetLength}");
}

void cVormCodeRun::StartControl(int32_t c) {
  Charge(vc_cost<rTCT_CONTROL>() + cnVcCostChar);
  auto control = std::make_unique<rTCT_CONTROL>();
  control->kind = c == cnTab ? cnControlTab : c == cnCR ? cnControlCR : c == cnLF ? cnControlLF : cnControlMixed;
  control->text.assign(1, char(uint8_t(c)));
  control->count = 1;
  control_pair = true;
  token->kind = TCT_CONTROL;
  token->payload.pointer = control.release();
  phase = cnPhaseControlRun;
}

void cVormCodeRun::ExtendControl(int32_t c) {
  rTCT_CONTROL* control = token->Control();
  if (control == nullptr) raise_parser(errVormCodeParser, "{token.control=NIL}");
  const auto all_characters = [control] { return int32_t(std::min<size_t>(control->text.size(), INT32_MAX)); };
  switch (control->kind) {
    case cnControlTab:
      if (c != cnTab) control->kind = cnControlMixed;
      break;
    case cnControlLF:
      if (c != cnLF) control->kind = cnControlMixed;
      break;
    case cnControlCR:
      if (c == cnLF) {
        if (control->count == 1) {
          control->count = 0;
          control->kind = cnControlCRLF;
        } else {
          control->kind = cnControlMixed;
        }
      } else if (c != cnCR) {
        control->kind = cnControlMixed;
      }
      break;
    case cnControlCRLF:
      if (control_pair) {
        if (c == cnCR) {
          control_pair = false;
        } else {
          control->kind = cnControlMixed;
          control->count = all_characters();
        }
      } else {
        control_pair = true;
        if (c != cnLF) {
          control->kind = cnControlMixed;
          control->count = all_characters();
        }
      }
      break;
    default: break;
  }
  if (control_pair && control->count < INT32_MAX) ++control->count;
  Charge(cnVcCostChar);
  control->text.push_back(char(uint8_t(c)));
}

void cVormCodeRun::FinishControl() {
  rTCT_CONTROL* control = token->Control();
  if (control == nullptr) return;
  if (control->kind == cnControlCRLF && !control_pair) {
    control->kind = cnControlMixed;
    control->count = int32_t(std::min<size_t>(control->text.size(), INT32_MAX));
  }
}

// ---------------------------------------------------------------------------
// The escape.

// A tag opens: its map starts with the two opening characters and the tag's
// own phase takes over.
void cVormCodeRun::OpenTag(const char* opening, const uint8_t* kinds, uint8_t next_phase) {
  tag_state = 10;
  MapStart(opening, kinds, 2, "{map_create,token.maps.data.Adopt}");
  phase = next_phase;
}

void cVormCodeRun::PhaseEscape(int32_t c) {
  static constexpr uint8_t kTagKinds[] = {0, 0};
  static constexpr uint8_t kPropertyKinds[] = {0, 15};
  switch (c) {
    case '\\': OpenTag("~\\", kTagKinds, cnPhaseSection); return;
    case '<': OpenTag("~<", kPropertyKinds, cnPhaseProperty); return;
    case '{': OpenTag("~{", kTagKinds, cnPhaseMetadata); return;
    case '[': OpenTag("~[", kTagKinds, cnPhaseStructure); return;
    case '(': OpenTag("~(", kTagKinds, cnPhaseInsertable); return;
    case '>':
      token->kind = TCT_PROPERTIES_END;
      PairGeneric(TCT_PROPERTIES);
      phase = cnPhaseText;
      return;
    case ']':
      token->kind = TCT_STRUCTURE_END;
      PairGeneric(TCT_STRUCTURE);
      phase = cnPhaseText;
      return;
    case ')':
      token->kind = TCT_PAREN_CLOSE;
      phase = cnPhaseText;
      return;
    case '}':
      token->kind = TCT_BRACE_CLOSE;
      phase = cnPhaseText;
      return;
    case '~':
      StartData('~');
      AppendData('~');
      return;
    default:
      StartData('~');
      if (c <= cnSpace || c == cnNbsp)
        PhaseTextLike(c);
      else
        AppendData(c);
      return;
  }
}

void cVormCodeRun::PairGeneric(uint8_t opening_kind) {
  // Bring the stacks up to the token before the current one: a section
  // token empties both (the backward search stops there), an unpaired
  // opening is pushed. Every token is looked at once per parse, so the
  // search is the nearest earlier unpaired opening after the last section
  // without walking back.
  rTCToken* t = scanned != nullptr ? scanned->next : tokens->First();
  while (t != nullptr && t != token) {
    if (t->kind == TCT_SECTION) {
      open_properties.clear();
      open_structures.clear();
    } else if (t->partner == nullptr && (t->kind == TCT_PROPERTIES || t->kind == TCT_STRUCTURE)) {
      Charge(cnVcCostIndexSlot);
      (t->kind == TCT_PROPERTIES ? open_properties : open_structures).push_back(t);
    }
    scanned = t;
    t = t->next;
  }
  std::vector<rTCToken*>& open = opening_kind == TCT_PROPERTIES ? open_properties : open_structures;
  while (!open.empty() && open.back()->partner != nullptr) open.pop_back();
  if (open.empty()) return;
  rTCToken* opening = open.back();
  open.pop_back();
  opening->partner = token;
  token->partner = opening;
}

// ---------------------------------------------------------------------------
// Names, labels and comments.

void cVormCodeRun::EnterId(std::string* into, uint8_t map_kind) {
  Charge(cnVcCostChar);  // the first character, stored by the caller
  target = into;
  id_map_kind = map_kind;
  MapRecord(map_kind, current);
  PushPhase(phase);
  phase = cnPhaseId;
}

void cVormCodeRun::EnterLabel(std::string* into, uint8_t map_kind) {
  target = into;
  id_map_kind = map_kind;
  MapRecord(map_kind, current);
  PushPhase(phase);
  phase = cnPhaseLabel;
  value_substate = 10;
}

void cVormCodeRun::EnterComment() {
  MapRecord(4, current);
  PushPhase(phase);
  phase = cnPhaseComment;
}

void cVormCodeRun::PhaseId(int32_t c) {
  if (is_name_char(c)) {
    Charge(cnVcCostChar);
    target->push_back(char(c));
    MapRecord(id_map_kind, c);
  } else {
    PopPhase();
    HandBack();
  }
}

void cVormCodeRun::PhaseLabel(int32_t c) {
  const auto accept = [&](uint8_t next) {
    Charge(cnVcCostChar);
    target->push_back(char(uint8_t(c)));
    MapRecord(id_map_kind, c);
    value_substate = next;
  };
  const auto leave = [&] {
    PopPhase();
    HandBack();
  };
  // "." and ":" after a segment: a second ":" or a "." after the ":" ends
  // the label there.
  const auto separator = [&] {
    if (label_colon) {
      leave();
      return;
    }
    if (c == ':') label_colon = true;
    accept(11);
  };
  switch (value_substate) {
    case 10:
    case 11:
      if (c == '"') {
        if (value_substate == 10) label_colon = false;
        MapRecord(id_map_kind, c);
        value_substate = 28;
      } else if (is_name_char(c)) {
        if (value_substate == 10) label_colon = false;
        accept(23);
      } else {
        SyntaxError();
      }
      return;
    case 23:
      if (c == '.' || c == ':')
        separator();
      else if (is_name_char(c))
        accept(23);
      else
        leave();
      return;
    case 28:
      if (c == '"') {
        MapRecord(id_map_kind, c);
        value_substate = 26;
      } else if (c < cnSpace || c > 255) {
        SyntaxError();
      } else {
        accept(28);
      }
      return;
    case 26:
      if (c == '"')
        accept(28);
      else if (c == '.' || c == ':')
        separator();
      else
        leave();
      return;
    default: SyntaxError();
  }
}

void cVormCodeRun::PhaseComment(int32_t c) {
  if (c == cnLF || c == cnCR) {
    MapRecord(3, c);
  } else if (c == '}') {
    MapRecord(4, c);
    PopPhase();
  } else {
    MapRecord(4, c);
  }
}

// ---------------------------------------------------------------------------
// The syntax map.

void cVormCodeRun::MapStart(const char* chars, const uint8_t* kinds, int32_t count, const char* error_text) {
  if (!record_map || token == nullptr) return;
  Charge(vc_cost<rTCTagMap>() + vc_cost<cEncoding>() + vc_cost<cTCTagMapEntries>() +
         uint64_t(std::max(count, 0)) * cnVcCostCodePoint);
  auto map = std::make_unique<rTCTagMap>();
  map->text = new cEncoding();
  map->entries = new cTCTagMapEntries();
  const int32_t r = map->text->AdoptCharString(std::string(chars, size_t(count)), 0, false);
  if (r != count) raise_encoding_result(r, error_text);
  // The entries are complete before the map replaces the token's.
  int32_t position = 0;
  rTCTagMapEntry* last = nullptr;
  for (int32_t k = 0; k < count; ++k) {
    ++position;
    if (last != nullptr && last->kind == kinds[k]) {
      ++last->length;
      continue;
    }
    ChargeAppend(*map->entries);
    rTCTagMapEntry* entry = map->entries->Append(1);
    if (entry == nullptr) raise_parser(errVormCodeParser, "{map_create,token.maps.entries.Append}");
    entry->kind = kinds[k];
    entry->first = position;
    entry->length = 1;
    last = entry;
  }
  delete token->map;
  token->map = map.release();
  map_position = position;
  map_last = last;
}

void cVormCodeRun::MapRecord(uint8_t kind, int32_t c) {
  if (!record_map || token == nullptr || token->map == nullptr) return;
  rTCTagMap* map = token->map;
  const int32_t n = map->text->Length();
  if (n < 0 || n == INT32_MAX) raise_parser(errVormCodeParser, "{map_record,token.maps.data.SetLength}");
  Charge(cnVcCostCodePoint);
  if (map_last == nullptr || map_last->kind != kind) ChargeAppend(*map->entries);
  const int32_t r = map->text->SetLength(n + 1, c);
  if (r < 0) raise_error(r, &qlm_encoding_exception_string, "{map_record,token.maps.data.SetLength}");
  ++map_position;
  if (map_last != nullptr && map_last->kind == kind) {
    ++map_last->length;
    return;
  }
  rTCTagMapEntry* entry = map->entries->Append(1);
  if (entry == nullptr) raise_parser(errVormCodeParser, "{map_record,token.maps.entries.Append}");
  entry->kind = kind;
  entry->first = map_position;
  entry->length = 1;
  map_last = entry;
}
