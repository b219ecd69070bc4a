// Reading an existing installation's uninstall manifest.
#include "installs_local_files.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "installs_manifest.h"
#include "installs_names.h"
#include "installs_settings.h"
#include "kvn_crypt.h"
#include "plat_shell_link_text.h"
#include "qlm_base_flow.h"
#include "qlm_base_util.h"
#include "qlm_parser_vormcode.h"
#include "qlm_parser_vormcode_queries.h"
#include "qlm_platform_file_flow.h"
#include "win_interfaces.h"

rLocalFile* cLocalFiles::Add(uint8_t kind, std::string_view value, bool current) {
  rLocalFile* e = nullptr;
  mIndexed = UINT32_MAX;
  try {
    e = Append(1);
    if (e == nullptr) return nullptr;
    e->kind = kind;
    e->value.assign(value);
    e->current = current;
    return e;
  } catch (...) {
    if (e != nullptr) RemoveLast(1);
    return nullptr;
  }
}

rLocalFile* cLocalFiles::Find(uint8_t kind, std::string_view value) const {
  try {
    if (mIndexed != Count()) {
      mIndex.clear();
      for (rLocalFile* e = First(); e != nullptr; e = e->next)
        mIndex[char(e->kind) + string_trim_upper(e->value)].push_back(e);
      mIndexed = Count();
    }
    const auto it = mIndex.find(char(kind) + string_trim_upper(value));
    if (it == mIndex.end()) return nullptr;
    for (rLocalFile* e : it->second)
      if (e->active && !e->excluded) return e;
    return nullptr;
  } catch (...) {
    // Without memory for the index: the plain walk.
    mIndex.clear();
    mIndexed = UINT32_MAX;
    const std::string wanted = string_trim_upper(value);
    for (rLocalFile* e = First(); e != nullptr; e = e->next)
      if (e->active && !e->excluded && e->kind == kind && string_trim_upper(e->value) == wanted) return e;
    return nullptr;
  }
}

namespace {

struct rItemKey {
  const char* name;
  uint8_t kind;
};
constexpr rItemKey kItemKeys[] = {
    {"ext", cnLocalExt}, {"file", cnLocalFile}, {"path", cnLocalPath}, {"link", cnLocalLink}, {"group", cnLocalGroup}};
constexpr const char* kYesNoOptions[] = {"DesktopIcon", "OnlyCurrent", "IsPowerUser"};

// One item as read, before the whole section proved sound.
struct rReadItem {
  uint8_t kind;
  std::string value;
  bool current;
};

// What a section holds when every token is sound.
struct rSection {
  std::vector<rReadItem> items;
  bool has_desktop_icon = false;
  bool desktop_icon = false;
};

// A property as the writer makes it: a plain name, no type, no variable.
bool plain_property(const rTCProperty* p) { return p != nullptr && p->type == nullptr && p->variable == 0; }

// A quoted value as the writer makes it: UTF-8 text, not empty, without
// control characters. The cipher garbles a damaged block into random bytes;
// where such a block falls inside a value (or swallows the end of one tag
// and the start of the next), these rules are what tells it apart from a
// name, since random bytes are almost never UTF-8.
bool item_text(const rTCProperty* p, std::string& text) {
  if (!plain_property(p) || p->value.kind != ET_TEXT || !tblocks_property_text(p, text) || text.empty()) return false;
  for (char c : text)
    if (inst_char_is_control(static_cast<unsigned char>(c))) return false;
  std::u16string wide;
  return plat::link_text::utf8_to_utf16(text, wide);
}

// A bare word, compared as the queries compare names.
bool bare_word(const rTCProperty* p, std::string& word) {
  if (!plain_property(p) || p->value.kind != ET_ID || !tblocks_property_text(p, word)) return false;
  word = string_trim_upper(word);
  return true;
}

// The number of properties of a tag token.
int32_t property_count(const rTCToken* token) {
  int32_t n = 0;
  for (const rTCProperty* p = token->Properties()->First(); p != nullptr; p = p->next) ++n;
  return n;
}

// One tag of the section: an item, a reg item with its hive, or an option.
// False for anything the writer does not make.
bool take_tag(rSection& section, const rTCToken* token) {
  if (token->partner != nullptr || token->Properties() == nullptr) return false;
  const int32_t count = property_count(token);
  const rTCProperty* p = nullptr;
  std::string text;
  for (const rItemKey& key : kItemKeys) {
    if (!tblocks_find_property(token, key.name, p)) continue;
    if (count != 1 || !item_text(p, text)) return false;
    section.items.push_back({key.kind, std::move(text), false});
    return true;
  }
  if (tblocks_find_property(token, "reg", p)) {
    const rTCProperty* hk = nullptr;
    std::string hive;
    if (count != 2 || !item_text(p, text) || !tblocks_find_property(token, "hk", hk) || !bare_word(hk, hive) ||
        (hive != "CURRENT" && hive != "LOCAL"))
      return false;
    std::string stored;
    tblocks_property_text(hk, stored);
    section.items.push_back({cnLocalReg, std::move(text), hive_is_current(stored)});
    return true;
  }
  for (const char* option : kYesNoOptions) {
    if (!tblocks_find_property(token, option, p)) continue;
    std::string word;
    if (count != 1 || !bare_word(p, word) || (word != "YES" && word != "NO")) return false;
    if (string_trim_upper(option) == "DESKTOPICON") {
      section.has_desktop_icon = true;
      section.desktop_icon = word == "YES";
    }
    return true;
  }
  // The main program's path (never empty in a manifest the engine wrote,
  // but nothing depends on it).
  if (tblocks_find_property(token, "Application", p))
    return count == 1 && plain_property(p) && p->value.kind == ET_TEXT && tblocks_property_text(p, text);
  return false;
}

// Reads the section from the token after its header up to its closing,
// which must be the last token. False when the closing is missing or any
// token between is not one the writer makes: blanks, CR LF line ends and
// the tags above.
bool take_section(rSection& section, const rTCToken* t, const rTCMatch& match) {
  for (; t != nullptr; t = t->next) {
    switch (t->kind) {
      case TCT_SPACE: break;
      case TCT_CONTROL:
        if (t->Control() == nullptr || t->Control()->kind != cnControlCRLF) return false;
        break;
      case TCT_PROPERTIES:
        if (!take_tag(section, t)) return false;
        break;
      default: return t->next == nullptr && tblocks_is_closing(t, &match);
    }
  }
  return false;
}

// The general reading of one line: the parser reads it inside a section of
// its own (the header, the line, the closing), so that a line is read as it
// reads in the manifest, and costs what the line costs, whatever the text.
bool parse_line(std::string_view line, rSection& section) {
  if (line.size() > cnManifestLineMax) return false;
  std::string doc;
  doc.reserve(cnManifestHeader.size() + line.size() + cnManifestClosing.size() + 4);
  doc.append(cnManifestHeader).append("\r\n").append(line).append("\r\n").append(cnManifestClosing);
  std::unique_ptr<cMemoryFlow> flow = cMemoryFlow::ConstructReadOnly(true, doc.data(), int64_t(doc.size()));
  std::unique_ptr<cParserVormCode> parser = cParserVormCode::Construct(false);
  if (flow == nullptr || parser == nullptr || !flow->Open() || !parser->OpenFlow(flow.get(), nullptr)) return false;
  rTCMatch match;
  const rTCToken* t = parser->FirstToken();
  if (t == nullptr || !tblocks_is_section(t, "application", "uninstall", &match)) return false;
  return take_section(section, t->next, match);
}

// A quoted value in the writer's plain form: no double quote and no "~"
// inside (those take the parser), no control character, UTF-8.
bool plain_value(std::string_view v, bool may_be_empty) {
  if (v.empty()) return may_be_empty;
  for (char c : v)
    if (c == '"' || c == '~' || inst_char_is_control(static_cast<unsigned char>(c))) return false;
  std::u16string wide;
  return plat::link_text::utf8_to_utf16(std::string(v), wide);
}

// The fast reading of one line in the forms the writer makes with plain
// values ("  ~<file=\"a.txt\">", "  ~<reg=\"K\";hk=CURRENT>",
// "  ~<DesktopIcon=yes>", ...). False when the line is in none of them; the
// parser then reads it. Where both read a line they agree
// (LocalFilesLines.FastFormsReadAsTheParserReadsThem).
bool fast_line(std::string_view line, rSection& section) {
  constexpr std::string_view kOpen = "  ~<";
  if (line.size() < kOpen.size() + 3 || line.substr(0, kOpen.size()) != kOpen || line.back() != '>') return false;
  const std::string_view body = line.substr(kOpen.size(), line.size() - kOpen.size() - 1);
  const size_t eq = body.find('=');
  if (eq == std::string_view::npos) return false;
  const std::string_view key = body.substr(0, eq);
  const std::string_view rest = body.substr(eq + 1);
  if (key == "reg") {
    for (const bool current : {true, false}) {
      const std::string tail = std::string("\";hk=") + (current ? "CURRENT" : "LOCAL");
      if (rest.size() > tail.size() + 1 && rest.front() == '"' && rest.substr(rest.size() - tail.size()) == tail) {
        const std::string_view value = rest.substr(1, rest.size() - tail.size() - 1);
        if (!plain_value(value, false)) return false;
        section.items.push_back({cnLocalReg, std::string(value), current});
        return true;
      }
    }
    return false;
  }
  const bool quoted = rest.size() >= 2 && rest.front() == '"' && rest.back() == '"';
  const std::string_view value = quoted ? rest.substr(1, rest.size() - 2) : std::string_view();
  for (const rItemKey& item : kItemKeys) {
    if (key != item.name) continue;
    if (!quoted || !plain_value(value, false)) return false;
    section.items.push_back({item.kind, std::string(value), false});
    return true;
  }
  if (key == "Application") return quoted && plain_value(value, true);
  for (const char* option : kYesNoOptions) {
    if (key != option || (rest != "yes" && rest != "no")) continue;
    if (key == "DesktopIcon") {
      section.has_desktop_icon = true;
      section.desktop_icon = rest == "yes";
    }
    return true;
  }
  return false;
}

// A line of blanks only.
bool blank_line(std::string_view line) { return line.find_first_not_of(' ') == std::string_view::npos; }

// The section's header or closing line, with blanks around it (the header's
// label and name in any case).
bool header_line(std::string_view line) {
  const size_t from = line.find_first_not_of(' ');
  if (from == std::string_view::npos) return false;
  line = line.substr(from, line.find_last_not_of(' ') + 1 - from);
  return line.size() == cnManifestHeader.size() && string_trim_upper(line) == string_trim_upper(cnManifestHeader);
}
bool closing_line(std::string_view line) {
  const size_t from = line.find_first_not_of(' ');
  return from != std::string_view::npos &&
         line.substr(from, line.find_last_not_of(' ') + 1 - from) == cnManifestClosing;
}

// Appends the items; on a failure the list is as it was.
bool add_items(cLocalFiles* list, const rSection& section) {
  const uint32_t before = list->Count();
  for (const rReadItem& item : section.items) {
    if (list->Add(item.kind, item.value, item.current) == nullptr) {
      list->RemoveLast(list->Count() - before);
      return false;
    }
  }
  return true;
}

}  // namespace

int32_t local_files_read_line(std::string_view line, cLocalFiles* list, int32_t& desktop_icon, bool parser_only) {
  if (list == nullptr) return -1;
  try {
    if (blank_line(line)) return 0;
    if (closing_line(line)) return 1;
    rSection section;
    if (!(!parser_only && fast_line(line, section))) {
      section = rSection();
      if (!parse_line(line, section)) return -1;
    }
    if (!add_items(list, section)) return -1;
    if (section.has_desktop_icon) desktop_icon = section.desktop_icon ? 1 : 0;
    return 0;
  } catch (...) {
    return -1;
  }
}

bool local_files_parse(cLocalFiles* list, const void* data, int64_t size) {
  if (list == nullptr || data == nullptr || size <= 0 || uint64_t(size) > cnManifestMaxBytes) return false;
  const std::string_view text(static_cast<const char*>(data), size_t(size));
  // A check line that does not match the text is a damaged manifest, even
  // where the damage still parses.
  if (manifest_check(text) < 0) return false;
  // Line by line: the list is the only thing that grows with the text.
  const uint32_t before = list->Count();
  int32_t desktop_icon = -1;
  bool in_section = false;
  bool closed = false;
  for (size_t at = 0; at < text.size() && !closed;) {
    size_t end = text.find("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    at = end + 2;
    if (!in_section) {
      // Everything before the header is passed over.
      in_section = header_line(line);
      continue;
    }
    const int32_t read = local_files_read_line(line, list, desktop_icon, false);
    if (read < 0) break;
    closed = read > 0;
  }
  if (!closed) {
    list->RemoveLast(list->Count() - before);
    return false;
  }
  if (desktop_icon >= 0) gDesktopIcon = desktop_icon == 1;
  return true;
}

bool journal_load(cLocalFiles* list, std::string_view folder) {
  if (list == nullptr) return false;
  std::string text;
  try {
    cFileFlow file(string_add_backslash(folder) + std::string(cnJournalFileName), 1);
    if (!file.Open()) return false;
    const int64_t size = file.Size();
    if (size <= 0 || uint64_t(size) > cnManifestMaxBytes) return false;
    text.resize(size_t(size));
    if (!file.Read(text.data(), int32_t(size)) || file.LastIO() != uint32_t(size)) return false;
  } catch (...) {
    return false;
  }
  // Complete lines only: a run killed in the middle of an append leaves a
  // line without its CR LF. A line that does not read is passed over.
  int32_t ignored = -1;
  for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
    const std::string_view line(text.data() + at, end - at);
    if (!closing_line(line)) local_files_read_line(line, list, ignored, false);
  }
  return true;
}

bool local_files_load(cLocalFiles* list, std::string_view folder, std::string* why) {
  if (why != nullptr) why->clear();
  if (list == nullptr) return false;
  void* buffer = nullptr;
  bool loaded = false;
  try {
    cFileFlow file(string_add_backslash(folder) + std::string(cnManifestFileName), 1);
    if (file.Open()) {
      const int64_t size = file.Size();
      if (uint64_t(size) > cnManifestMaxBytes && size > 0) {
        if (why != nullptr)
          *why =
              std::string(cnManifestFileName) + " is larger than " + std::to_string(cnManifestMaxBytes >> 20) + " MiB";
      } else if (size > 0 && mem_alloc(buffer, size)) {
        const bool read = file.Read(buffer, int32_t(size)) && file.LastIO() == uint32_t(size);
        file.Close();
        loaded =
            read && crypt_decrypt_buffer(buffer, size, manifest_passphrase()) && local_files_parse(list, buffer, size);
      }
    }
  } catch (...) {
    loaded = false;
  }
  mem_free(buffer);
  return loaded;
}
