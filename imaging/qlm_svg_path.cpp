// SVG path data and point lists: one hand-written number reader, with the
// command letters of path data, and the path commands on AGG's path storage.
#include <cmath>
#include <numbers>
#include <string>

#include "qlm_svg.h"
#include "qlm_svg_arc.h"
#include "qlm_svg_number.h"

namespace {

bool is_command_letter(char c) {
  switch (c) {
    // clang-format off
    case 'M': case 'm': case 'L': case 'l': case 'H': case 'h': case 'V': case 'v':
    case 'C': case 'c': case 'S': case 's': case 'Q': case 'q': case 'T': case 't':
    case 'A': case 'a': case 'Z': case 'z':
      return true;
    default:
      return false;
      // clang-format on
  }
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_arc(char command) { return command == 'A' || command == 'a'; }

// What path data may hold after its first command besides command letters:
// numbers (digits, signs, points, exponents) and their separators (SVG's
// white space and the comma). Anything else is an error that ends the path.
bool is_path_data_char(char c) {
  switch (c) {
    // clang-format off
    case ' ': case '\t': case '\r': case '\n': case ',':
    case '+': case '-': case '.': case 'e': case 'E':
      return true;
    default:
      return is_digit(c);
      // clang-format on
  }
}

// The numbers one operation of a command takes (path commands but Z).
size_t group_of(char upper) {
  switch (upper) {
    case 'M':
    case 'L':
    case 'T': return 2;
    case 'S':
    case 'Q': return 4;
    case 'C': return 6;
    case 'A': return 7;
    default: return 1;  // H, V
  }
}

// A byte of a condition text: itself when printable, else 0xNN.
std::string shown_char(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u > 0x20 && u < 0x7F) return std::string(1, c);
  static const char hex[] = "0123456789ABCDEF";
  return std::string("0x") + hex[u >> 4] + hex[u & 15];
}

// The reader's states.
enum class NumState { BeforeCommand, Between, Integer, Fraction, ExponentLetter, Exponent };

}  // namespace

void cSVGParser::AppendArg(double value) {
  rDouble* d = mArgs->Append(1);
  if (d == nullptr) {
    const int32_t code = mArgs->LastError() != 0 ? mArgs->LastError() : errNEnoughMem;
    raise_base_error(code, "{mArgs.Append}");
  }
  d->value = value;
}

void cSVGParser::PushNumber(std::string_view number, bool commands) {
  // A number is one run of the text (an optional "-", digits, one ".", an
  // exponent), converted in place; "", "-" and "1e" read as 0.
  const double value = svg_number::value(number);
  if (commands)
    mPathArgs.push_back(value);
  else
    AppendArg(value);
}

// The number reader (see docs/svg.md for its states). Path data starts
// before the first command, points between numbers; only path data knows
// command letters. The numbers of a path command go to mPathArgs, a buffer
// reused from command to command; those of a points list are appended to
// mArgs, which ParsePoly reads. Where the system's own reader departed from
// the SVG number grammar, this one follows the grammar: ".5" is 0.5, "1e5"
// 100000 and "1.5e5" 150000. The number being read is the run of the text
// from `start` to the current character.
void cSVGParser::ReadNumbers(std::string_view text, bool commands) {
  NumState state = commands ? NumState::BeforeCommand : NumState::Between;
  char command = 0;
  size_t start = 0;
  const size_t n = text.size();

  auto complete = [&](size_t end) { PushNumber(text.substr(start, end - start), commands); };
  // A command letter: the current command runs with its numbers, the letter
  // becomes the current command and the numbers are emptied.
  auto take_command = [&](char letter) {
    if (command != 0) PathCommand(command);
    command = letter;
    mPathArgs.clear();
    state = NumState::Between;
  };

  size_t i = 0;
  for (; i < n; ++i) {
    const char c = text[i];
    const bool letter = commands && is_command_letter(c);
    // In path data a character outside its grammar (an exponent letter
    // where no number is being read included) ends the data.
    if (commands && state != NumState::BeforeCommand && !letter &&
        (!is_path_data_char(c) || (state == NumState::Between && (c == 'e' || c == 'E'))))
      break;
    switch (state) {
      case NumState::BeforeCommand:
        if (letter) take_command(c);
        break;
      case NumState::Between:
        if ((c == '0' || c == '1') && is_arc(command) && (mPathArgs.size() % 7 == 3 || mPathArgs.size() % 7 == 4)) {
          // An arc's flags are one digit each and need no separator:
          // "a25,25 0 10 -25,25" has the flags 1 and 0.
          start = i;
          complete(i + 1);
        } else if (c == '-' || is_digit(c)) {
          start = i;
          state = NumState::Integer;
        } else if (c == '.') {
          start = i;
          state = NumState::Fraction;
        } else if (letter) {
          take_command(c);
        }
        break;
      case NumState::Integer:
        if (is_digit(c)) {
        } else if (c == '.') {
          state = NumState::Fraction;
        } else if (c == '+' || c == '-') {
          // The number ends; "-" starts the next one, "+" an empty one.
          complete(i);
          start = c == '-' ? i : i + 1;
        } else if (letter) {
          complete(i);
          take_command(c);
        } else if (c == 'E' || c == 'e') {
          state = NumState::ExponentLetter;
        } else {
          complete(i);
          state = NumState::Between;
        }
        break;
      case NumState::Fraction:
        if (is_digit(c)) {
        } else if (c == '+' || c == '-') {
          complete(i);
          start = c == '-' ? i : i + 1;
          state = NumState::Integer;
        } else if (c == '.') {
          complete(i);
          start = i;
        } else if (c == 'E' || c == 'e') {
          state = NumState::ExponentLetter;
        } else if (letter) {
          complete(i);
          take_command(c);
        } else {
          complete(i);
          state = NumState::Between;
        }
        break;
      case NumState::ExponentLetter:
        if (c == '+' || c == '-' || is_digit(c)) {
          state = NumState::Exponent;
        } else if (letter) {
          complete(i);
          take_command(c);
        } else {
          complete(i);
          state = NumState::Between;
        }
        break;
      case NumState::Exponent:
        if (is_digit(c)) {
        } else if (c == '+' || c == '-') {
          complete(i);
          start = c == '-' ? i : i + 1;
          state = NumState::Integer;
        } else if (c == '.') {
          complete(i);
          start = i;
          state = NumState::Fraction;
        } else if (letter) {
          complete(i);
          take_command(c);
        } else {
          complete(i);
          state = NumState::Between;
        }
        break;
    }
  }
  if (state == NumState::Integer || state == NumState::Fraction || state == NumState::ExponentLetter ||
      state == NumState::Exponent)
    complete(i);
  if (i == n) {
    if (command != 0) PathCommand(command);
    return;
  }
  // An error in path data: the path is drawn up to the last whole operation
  // before it (SVG's rule), so the current command runs with the groups of
  // numbers it has completed, and the rest of the text is not read. The
  // error is logged on the drawing; the path and the load stand.
  const char upper = char(upper_byte(command));
  if (upper != 'Z') mPathArgs.resize(mPathArgs.size() - mPathArgs.size() % group_of(upper));
  if (upper == 'Z' || !mPathArgs.empty()) PathCommand(command);
  try {
    raise_error(errSVGPath, &qlm_svg_exception_string,
                "{char=" + shown_char(text[i]) + ",cmd=", std::string(1, command), "}");
  } catch (...) {
    LogCurrent();
  }
}

bool cSVGParser::ParsePathData(std::string_view text) {
  mSubpathX = mSubpathY = 0;
  mAfterClose = false;
  try {
    ReadNumbers(text, true);
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

bool cSVGParser::ParsePoints(std::string_view text) {
  try {
    ReadNumbers(text, false);
    return true;
  } catch (...) {
    LogCurrent();
    return false;
  }
}

void cSVGParser::PathCommand(char letter) {
  const char upper = char(upper_byte(letter));
  agg::path_storage& ps = *mSVG->mPathStorage;
  if (upper == 'Z') {
    ps.end_poly(agg::path_flags_close);
    mAfterClose = true;
    return;
  }
  const size_t count = mPathArgs.size();
  const std::string cmd(1, letter);
  if (count == 0) raise_error(errSVGPath, &qlm_svg_exception_string, "{mArgs.Count=0,cmd=", cmd, "}");
  const size_t group = group_of(upper);
  if (count % group != 0)
    raise_error(errSVGPath, &qlm_svg_exception_string, "{mArgs.Count mod " + std::to_string(group) + " <> 0,cmd=", cmd,
                "}");
  const bool rel = letter != upper;
  // After a close the current point is the start of the subpath just
  // closed: a move counts from it, and any other command begins a new
  // subpath there (the path storage would count from the origin).
  const bool after_close = mAfterClose;
  mAfterClose = false;
  if (after_close && upper != 'M') ps.move_to(mSubpathX, mSubpathY);
  for (size_t done = 0; done < count; done += group) {
    const double* a = mPathArgs.data() + done;
    switch (upper) {
      case 'M':
        if (done == 0) {
          if (rel && after_close)
            ps.move_to(mSubpathX + a[0], mSubpathY + a[1]);
          else
            rel ? ps.move_rel(a[0], a[1]) : ps.move_to(a[0], a[1]);
          ps.last_vertex(&mSubpathX, &mSubpathY);
        } else
          rel ? ps.line_rel(a[0], a[1]) : ps.line_to(a[0], a[1]);
        break;
      case 'L': rel ? ps.line_rel(a[0], a[1]) : ps.line_to(a[0], a[1]); break;
      case 'H': rel ? ps.hline_rel(a[0]) : ps.hline_to(a[0]); break;
      case 'V': rel ? ps.vline_rel(a[0]) : ps.vline_to(a[0]); break;
      case 'C':
        rel ? ps.curve4_rel(a[0], a[1], a[2], a[3], a[4], a[5]) : ps.curve4(a[0], a[1], a[2], a[3], a[4], a[5]);
        break;
      case 'S': rel ? ps.curve4_rel(a[0], a[1], a[2], a[3]) : ps.curve4(a[0], a[1], a[2], a[3]); break;
      case 'Q': rel ? ps.curve3_rel(a[0], a[1], a[2], a[3]) : ps.curve3(a[0], a[1], a[2], a[3]); break;
      case 'T': rel ? ps.curve3_rel(a[0], a[1]) : ps.curve3(a[0], a[1]); break;
      case 'A': {
        const bool large_arc = !float_equal(a[3], 0);
        const bool sweep = !float_equal(a[4], 0);
        const double angle = a[2] * std::numbers::pi / 180.0;
        rel ? svg_arc_rel(ps, a[0], a[1], angle, large_arc, sweep, a[5], a[6])
            : svg_arc_to(ps, a[0], a[1], angle, large_arc, sweep, a[5], a[6]);
        break;
      }
      default: break;
    }
  }
}
