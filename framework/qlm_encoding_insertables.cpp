// VormCode insertables in the character feed: "~(" items ")" read as the
// code points they stand for. Items inside one pair of parentheses are
// separated by ";". An item is "~" (itself), the identifier "nbsp" (U+00A0,
// any case), or a sequence of quoted texts, "$" hexadecimal codes (up to 8
// digits) and "%" decimal codes (up to 10 digits), separated by blanks or
// joined by "+".
#include <string>

#include "qlm_base_util.h"
#include "qlm_encoding.h"

namespace {

// Feed states.
enum : uint8_t {
  kText = 0,         // plain text
  kAfterTilde = 1,   // a "~" was read
  kHeld = 2,         // a unit read ahead is delivered next
  kBeforeItem = 3,   // inside "~(", before an item
  kCollecting = 4,   // collecting an item
  kAfterBlanks = 5,  // collecting, after a run of blanks
  kDelivering = 6,   // returning the expansion
  kFailed = 7,       // a failed item: "(" comes next
  kReplaying = 8,    // returning the failed item as written, then ")"
};

bool is_blank(int32_t c) { return c >= 0 && c <= 32; }
bool is_letter(int32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_digit(int32_t c) { return c >= '0' && c <= '9'; }
bool is_hex(int32_t c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// After an item's expansion (or its replay): the next item in the same
// parentheses, or back to text.
void after_item(rCharFeed& f) {
  f.index = 0;
  if (f.terminator == ';') {
    f.collected.clear();
    f.state = kBeforeItem;
  } else {
    f.state = kText;
  }
}

void append(rCharFeed& f, int32_t c) {
  f.collected.push_back(c);
  f.collected_count = int32_t(f.collected.size());
}

}  // namespace

int32_t vorm_insertable_parse(const std::vector<int32_t>& c, std::vector<int32_t>& out) {
  constexpr int32_t kFail = errEncoding_InsertableParse;
  out.clear();
  const size_t n = c.size();
  if (n == 1 && c[0] == '~') {
    out.push_back('~');
    return 1;
  }
  if (n > 0 && is_letter(c[0])) {
    // An identifier must be the whole item; only "nbsp" is known.
    std::string id;
    for (size_t i = 0; i < n; ++i) {
      if (!is_letter(c[i]) && !is_digit(c[i])) return kFail;
      id.push_back(char(c[i]));
    }
    if (string_upper(id) != "NBSP") return kFail;
    out.push_back(0xA0);
    return 1;
  }
  enum { kStart, kAfterCode, kAfterQuoted, kAfterSpace, kAfterPlus } st = kStart;
  size_t i = 0;
  while (i < n) {
    const int32_t ch = c[i];
    if (ch == '$' || ch == '%') {
      const bool hex = ch == '$';
      const size_t max_digits = hex ? 8 : 10;
      std::string digits;
      for (++i; i < n && (hex ? is_hex(c[i]) : is_digit(c[i])); ++i) {
        if (digits.size() == max_digits) return kFail;
        digits.push_back(char(c[i]));
      }
      // Read as signed 32-bit numbers: beyond 2147483647 stands for 0.
      out.push_back(int32_t(hex ? hex_to_int(digits, cnTypeInt32, cnClampZero)
                                : string_to_int(digits, cnTypeInt32, cnClampZero)));
      st = kAfterCode;
      continue;
    }
    if (ch == '"') {
      // Two quotes inside stand for one; a missing closing quote is
      // accepted at the end.
      for (++i; i < n; ++i) {
        if (c[i] == '"') {
          if (i + 1 < n && c[i + 1] == '"') {
            out.push_back('"');
            ++i;
            continue;
          }
          ++i;
          break;
        }
        out.push_back(c[i]);
      }
      st = kAfterQuoted;
      continue;
    }
    if (is_blank(ch) && st != kStart) {
      if (st != kAfterPlus) st = kAfterSpace;
      ++i;
      continue;
    }
    if (ch == '+' && st != kStart && st != kAfterPlus) {
      st = kAfterPlus;
      ++i;
      continue;
    }
    return kFail;
  }
  return int32_t(out.size());
}

int32_t feed_read_expanded(rCharFeed& f) {
  try {
    for (;;) {
      switch (f.state) {
        case kText: {
          const int32_t c = feed_read_raw(f);
          if (c != '~') return c;
          f.state = kAfterTilde;
          break;
        }
        case kAfterTilde: {
          const int32_t c = feed_read_raw(f);
          if (c == '(') {
            f.depth = 0;
            f.blanks = 0;
            f.collected.clear();
            f.collected_count = 0;
            f.state = kBeforeItem;
            break;
          }
          // Anything else (the end of the source too) comes after the "~".
          f.held = c;
          f.state = kHeld;
          return '~';
        }
        case kHeld: {
          const int32_t c = f.held;
          f.state = kText;
          if (c == '~') {
            f.state = kAfterTilde;
            break;
          }
          return c;
        }
        case kBeforeItem: {
          const int32_t c = feed_read_raw(f);
          if (c < 0) return c;  // an insertable open at the end is dropped
          if (is_blank(c) || c == ';') break;
          if (c == ')') {
            f.state = kText;
            break;
          }
          f.collected.clear();
          append(f, c);
          if (c == '(') ++f.depth;
          f.state = kCollecting;
          break;
        }
        case kCollecting:
        case kAfterBlanks: {
          const int32_t c = feed_read_raw(f);
          if (c < 0) return c;
          if (is_blank(c)) {
            append(f, c);
            f.blanks = f.state == kAfterBlanks ? f.blanks + 1 : 1;
            f.state = kAfterBlanks;
            break;
          }
          if (c == '(') {
            append(f, c);
            ++f.depth;
            f.state = kCollecting;
            break;
          }
          if ((c == ')' || c == ';') && f.depth > 0) {
            append(f, c);
            --f.depth;
            f.state = kCollecting;
            break;
          }
          if (c == ')' || c == ';') {
            if (f.state == kAfterBlanks) f.collected.resize(f.collected.size() - size_t(f.blanks));
            f.collected_count = int32_t(f.collected.size());
            f.terminator = c;
            f.expansion_count = vorm_insertable_parse(f.collected, f.expansion);
            f.index = 0;
            if (f.expansion_count > 0) {
              f.state = kDelivering;
              return f.expansion[size_t(f.index++)];
            }
            if (f.expansion_count == 0) {
              after_item(f);
              break;
            }
            f.state = kFailed;
            return '~';
          }
          append(f, c);
          f.state = kCollecting;
          break;
        }
        case kDelivering:
          if (f.index < f.expansion_count) return f.expansion[size_t(f.index++)];
          after_item(f);
          break;
        case kFailed:
          f.state = kReplaying;
          f.index = 0;
          return '(';
        case kReplaying:
          if (f.index < f.collected_count) return f.collected[size_t(f.index++)];
          if (f.index == f.collected_count) {
            ++f.index;
            return ')';
          }
          after_item(f);
          break;
        default: return errEncoding_DataReadFailure;
      }
    }
  } catch (...) {
    return errEncoding_DataReadFailure;
  }
}
