// cFileName: the grammar of Windows path names, their parts, and composing.
#include <charconv>
#include <initializer_list>
#include <vector>

#include "plat_path_map.h"
#include "qlm_platform_file.h"

namespace {

constexpr size_t npos = rFileNameMarks::npos;
constexpr std::string_view kLongPrefix = "\\\\?\\";

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string decimal(size_t value) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

[[noreturn]] void parse_error(int32_t code, std::string_view text, size_t offset) {
  raise_error(code, &qlm_platform_file_exception_string, text, decimal(offset), "}");
}

// States of the parse. The first four belong to the start of the name, the
// next seven to its root (drive, network name, long prefix), the rest to its
// body.
enum class St {
  Begin,
  OneSlash,
  TwoSlashes,
  Question,
  AfterPrefix,
  PrefixSlash,
  PrefixTwoSlashes,
  DriveLetter,
  Host,
  HostSlash,
  Share,
  AfterDrive,
  AfterSlash,
  InName,
  Dots,
  InExtension,
};

// The span of `name` from `from` up to the first present mark of `ups`, or to
// the end; empty when `from` is absent.
std::string_view span(std::string_view name, size_t from, std::initializer_list<size_t> ups) {
  if (from == npos) return {};
  size_t end = name.size();
  for (size_t u : ups) {
    if (u != npos) {
      end = u;
      break;
    }
  }
  return name.substr(from, end - from);
}

bool ends_with_sep(std::string_view s) { return !s.empty() && s.back() == '\\'; }
bool begins_with_sep(std::string_view s) { return !s.empty() && s.front() == '\\'; }

// "." before a non-empty extension that lacks it.
void append_extension(std::string& out, std::string_view extension) {
  if (!extension.empty() && extension.front() != '.') out.push_back('.');
  out.append(extension);
}

// ":" after a drive that ends in a letter and is not a network name.
void append_drive(std::string& out, std::string_view drive) {
  out.append(drive);
  if (!drive.empty() && !begins_with_sep(drive) && is_letter(drive.back())) out.push_back(':');
}

std::string compose(std::string_view path, std::string_view file_name, std::string_view extension) {
  std::string out;
  out.reserve(path.size() + file_name.size() + extension.size() + 2);
  out.append(path);
  if (!path.empty() && path.back() != ':' && path.back() != '\\') out.push_back('\\');
  out.append(file_name);
  append_extension(out, extension);
  return out;
}

std::string compose_full(std::string_view drive, std::string_view directory, std::string_view file_name,
                         std::string_view extension) {
  std::string out;
  out.reserve(drive.size() + directory.size() + file_name.size() + extension.size() + 4);
  append_drive(out, drive);
  if (!directory.empty() && !begins_with_sep(directory)) out.push_back('\\');
  out.append(directory);
  if (!directory.empty() && !ends_with_sep(directory)) out.push_back('\\');
  out.append(file_name);
  append_extension(out, extension);
  return out;
}

// A network root without a directory ("\\host\share"): a file part added to
// it needs a separator, or it would be glued onto the share's name.
bool is_bare_share(std::string_view name, const rFileNameMarks& m) {
  return m.driveStart != npos && name[m.driveStart] == '\\' && m.directoryStart == npos;
}

// Levels of a directory part: "\" for a leading root, then each name with
// its trailing "\".
std::vector<std::string_view> split_levels(std::string_view dir) {
  std::vector<std::string_view> levels;
  size_t pos = 0;
  if (begins_with_sep(dir)) {
    levels.push_back(dir.substr(0, 1));
    pos = 1;
  }
  while (pos < dir.size()) {
    size_t sep = dir.find('\\', pos);
    const size_t end = sep == std::string_view::npos ? dir.size() : sep + 1;
    levels.push_back(dir.substr(pos, end - pos));
    pos = end;
  }
  return levels;
}

}  // namespace

// ---------------------------------------------------------------------------
// The parse

namespace {

// One parse of a name, a character at a time: the marks found so far, the
// directory levels, the length of the current run of dots and the state.
// Each step handles the states of one part of the name.
struct name_scan {
  rFileNameMarks m;
  int32_t levels = 0;
  uint32_t dots = 0;
  St st = St::Begin;

  // A run of dots starts at i: an extension, or "." and "..".
  void begin_dots(size_t i) {
    m.extensionStart = i;
    dots = 1;
    st = St::Dots;
  }
  // A separator closes a directory level.
  void close_level() {
    st = St::AfterSlash;
    ++levels;
  }

  // Control characters and the characters no name may hold; ":" only
  // after a drive letter.
  void refuse_forbidden(char c, size_t i) const {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || c == '"' || c == '/' || c == '<' || c == '>' || c == '|' || (c == ':' && st != St::DriveLetter))
      parse_error(errCharNotAllowed, st == St::DriveLetter ? "{#0..#31,<>/\"| at offs " : "{#0..#31,<>/:\"| at offs ",
                  i);
  }

  // The first character of the name, or the first after the long prefix.
  void at_start(char c, size_t i) {
    if (c == '.') {
      m.directoryStart = i;
      begin_dots(i);
    } else if (is_letter(c)) {
      m.driveStart = m.directoryStart = m.nameStart = i;
      st = St::DriveLetter;
    } else if (c == '\\') {
      if (st == St::Begin) {
        m.prefixStart = m.driveStart = m.directoryStart = i;
        st = St::OneSlash;
      } else {
        m.driveStart = m.directoryStart = i;
        st = St::PrefixSlash;
      }
    } else {
      m.directoryStart = m.nameStart = i;
      st = St::InName;
    }
  }

  // After a leading "\": a second one starts a long prefix or a network
  // name, anything else makes the "\" the root of the directory.
  void after_one_slash(char c, size_t i) {
    if (c == '\\') {
      st = st == St::OneSlash ? St::TwoSlashes : St::PrefixTwoSlashes;
      return;
    }
    if (st == St::OneSlash) m.prefixStart = npos;
    m.driveStart = npos;
    if (c == '.') {
      begin_dots(i);
    } else {
      m.nameStart = i;
      st = St::InName;
    }
    ++levels;
  }

  // After "\\" (before or after the long prefix) and after "\\?".
  void in_prefix(char c, size_t i) {
    if (st == St::TwoSlashes) {
      if (c == '?') {
        st = St::Question;
      } else if (c == '\\') {
        parse_error(errCharNotExpected, "{\\\\\\ at offs ", i);
      } else {
        m.prefixStart = m.directoryStart = npos;
        st = St::Host;
      }
    } else if (st == St::Question) {
      if (c != '\\') parse_error(errCharNotExpected, std::string("{\\\\?") + c + " at offs ", i);
      m.driveStart = m.directoryStart = npos;
      st = St::AfterPrefix;
    } else {
      if (c == '?' || c == '\\') parse_error(errCharNotExpected, std::string("{\\\\") + c + " at offs ", i);
      m.directoryStart = npos;
      st = St::Host;
    }
  }

  // After a first letter: ":" makes it a drive, anything else a name.
  void after_letter(char c, size_t i) {
    if (c == ':') {
      m.directoryStart = m.nameStart = npos;
      st = St::AfterDrive;
    } else if (c == '\\') {
      m.driveStart = m.nameStart = npos;
      close_level();
    } else if (c == '.') {
      m.driveStart = npos;
      begin_dots(i);
    } else {
      m.driveStart = npos;
      st = St::InName;
    }
  }

  // The host and share of a network name; the share's "\" starts the
  // directory.
  void in_network_name(char c, size_t i) {
    if (st == St::Host) {
      if (c == '\\') st = St::HostSlash;
    } else if (st == St::HostSlash) {
      if (c == '\\') parse_error(errCharNotExpected, "{\\\\ at offs ", i);
      st = St::Share;
    } else if (c == '\\') {
      m.directoryStart = i;
      close_level();
    }
  }

  // After "X:".
  void after_drive(char c, size_t i) {
    if (c == '.') {
      m.directoryStart = i;
      begin_dots(i);
    } else if (c == '\\') {
      m.directoryStart = i;
      m.nameStart = m.extensionStart = npos;
      close_level();
    } else {
      m.directoryStart = m.nameStart = i;
      st = St::InName;
    }
  }

  // The levels of the body: names, dots and extensions between separators.
  void in_body(char c, size_t i) {
    switch (st) {
      case St::AfterSlash:
        if (c == '.') {
          begin_dots(i);
        } else if (c == '\\') {
          parse_error(errCharNotExpected, "{\\\\ at offs ", i);
        } else {
          m.nameStart = i;
          st = St::InName;
        }
        break;
      case St::InName:
        if (c == '.') {
          begin_dots(i);
        } else if (c == '\\') {
          m.nameStart = m.extensionStart = npos;
          close_level();
        }
        break;
      case St::Dots:
        if (c == '.') {
          if (m.nameStart == npos) m.nameStart = m.extensionStart;
          m.extensionStart = i;
          ++dots;
        } else if (c == '\\') {
          if (dots != 2) parse_error(errCharNotExpected, "{.\\ at offs ", i);
          m.nameStart = m.extensionStart = npos;
          close_level();
        } else {
          st = St::InExtension;
        }
        break;
      default:  // St::InExtension
        if (c == '.') {
          if (m.nameStart == npos) m.nameStart = m.extensionStart;
          m.extensionStart = i;
        } else if (c == '\\') {
          m.nameStart = m.extensionStart = npos;
          close_level();
        }
        break;
    }
  }

  void step(char c, size_t i) {
    refuse_forbidden(c, i);
    switch (st) {
      case St::Begin:
      case St::AfterPrefix: at_start(c, i); break;
      case St::OneSlash:
      case St::PrefixSlash: after_one_slash(c, i); break;
      case St::TwoSlashes:
      case St::Question:
      case St::PrefixTwoSlashes: in_prefix(c, i); break;
      case St::DriveLetter: after_letter(c, i); break;
      case St::Host:
      case St::HostSlash:
      case St::Share: in_network_name(c, i); break;
      case St::AfterDrive: after_drive(c, i); break;
      case St::AfterSlash:
      case St::InName:
      case St::Dots:
      case St::InExtension: in_body(c, i); break;
    }
  }

  // The end of the name (at n): a root alone, an unfinished prefix or
  // network name, a single letter or trailing dots.
  void finish(size_t n) {
    switch (st) {
      case St::OneSlash:     // the name is "\"
      case St::PrefixSlash:  // the name is "\\?\\": the same root after the prefix
        if (st == St::OneSlash) m.prefixStart = npos;
        m.driveStart = npos;
        ++levels;
        break;
      case St::TwoSlashes:
      case St::PrefixTwoSlashes: parse_error(errSeqNotComplete, "{\\\\ at offs ", n);
      case St::Question: parse_error(errSeqNotComplete, "{\\\\? at offs ", n);
      case St::DriveLetter:  // a single letter is a file name
        m.driveStart = m.directoryStart = npos;
        break;
      case St::Host:
      case St::HostSlash: parse_error(errSeqNotComplete, "{\\\\UNC at offs ", n);
      case St::Dots:  // trailing dots belong to the name
        if (m.nameStart == npos) m.nameStart = m.extensionStart;
        m.extensionStart = npos;
        break;
      default: break;
    }
  }

  // The marks derived from the others.
  void derive() {
    if (levels == 0) m.directoryStart = npos;
    m.pathStart = m.driveStart != npos ? m.driveStart : m.directoryStart;
    m.fileStart = m.nameStart != npos ? m.nameStart : m.extensionStart;
    m.bodyStart = m.prefixStart == npos ? 0 : (m.pathStart != npos ? m.pathStart : m.fileStart);
  }
};

}  // namespace

void cFileName::scan_name(std::string_view name, rFileNameMarks& marks, int32_t& level_count) {
  name_scan scan;
  for (size_t i = 0; i < name.size(); ++i) scan.step(name[i], i);
  scan.finish(name.size());
  scan.derive();
  marks = scan.m;
  level_count = scan.levels;
}

bool cFileName::scan_buffer(rFileNameMarks& marks) {
  return keep_code(mLastError, false, [&] {
    marks = rFileNameMarks{};
    if (mName.empty()) {
      mLastError = errInvariant;
      return false;
    }
    int32_t levels = 0;
    scan_name(mName, marks, levels);
    mLevelCount = levels;
    mLastError = 0;
    return true;
  });
}

rFileNameMarks cFileName::ScanPrivate() {
  rFileNameMarks m;
  int32_t levels = 0;
  try {
    scan_name(mName, m, levels);
  } catch (const exError&) {
    raise_base_error(errPrivateCall, "{Self.scan_buffer}");
  }
  mLevelCount = levels;
  return m;
}

// ---------------------------------------------------------------------------
// Life cycle

cFileName::cFileName(std::string_view path) { Assign(path); }

bool cFileName::Identify(uint32_t id) const { return id == id_cFileName || cBase::Identify(id); }

std::unique_ptr<cFileName> cFileName::Clone() {
  return keep_code(mLastError, std::unique_ptr<cFileName>(), [&] {
    auto copy = std::make_unique<cFileName>();
    copy->mName = mName;
    copy->mBody = mBody;
    copy->mCachedDrive = mCachedDrive;
    copy->mCachedDirectory = mCachedDirectory;
    copy->mCachedPath = mCachedPath;
    copy->mCachedLevel = mCachedLevel;
    copy->mCachedExtension = mCachedExtension;
    copy->mLastError = mLastError;
    copy->mLevelCount = mLevelCount;
    copy->mCachedLevelIndex = mCachedLevelIndex;
    return copy;
  });
}

void cFileName::DropCaches() {
  mCachedDrive.reset();
  mCachedDirectory.reset();
  mCachedPath.reset();
  mCachedLevel.reset();
  mCachedExtension.reset();
  mCachedLevelIndex = 0;
}

void cFileName::ReplaceName(std::string&& name) {
  mName.swap(name);
  mBody = 0;
  DropCaches();
  mLastError = 0;
}

bool cFileName::CheckNotEmpty() {
  mLastError = mName.empty() ? errInvariant : 0;
  return !mName.empty();
}

bool cFileName::Assign(std::string_view text) {
  return keep_code(mLastError, false, [&] {
    ReplaceName(std::string(text));
    return true;
  });
}

bool cFileName::Assign(const char* text) { return Assign(text ? std::string_view(text) : std::string_view()); }

// ---------------------------------------------------------------------------
// Composing and setting parts

bool cFileName::Compose(std::string_view path, std::string_view file_name, std::string_view extension) {
  return keep_code(mLastError, false, [&] {
    ReplaceName(compose(path, file_name, extension));
    return true;
  });
}

bool cFileName::ComposeFull(std::string_view drive, std::string_view directory, std::string_view file_name,
                            std::string_view extension) {
  return keep_code(mLastError, false, [&] {
    ReplaceName(compose_full(drive, directory, file_name, extension));
    return true;
  });
}

bool cFileName::SetDrive(std::string_view drive) {
  return keep_code(mLastError, false, [&] {
    if (mName.empty()) {
      ReplaceName(compose_full(drive, {}, {}, {}));
      return true;
    }
    const rFileNameMarks m = ScanPrivate();
    const size_t from = m.directoryStart != npos ? m.directoryStart : m.fileStart;
    std::string out;
    append_drive(out, drive);
    if (from != npos) out.append(std::string_view(mName).substr(from));
    ReplaceName(std::move(out));
    return true;
  });
}

bool cFileName::SetDirectory(std::string_view directory) {
  return keep_code(mLastError, false, [&] {
    if (mName.empty()) {
      ReplaceName(compose_full({}, directory, {}, {}));
      return true;
    }
    const rFileNameMarks m = ScanPrivate();
    const std::string_view name = mName;
    std::string out;
    out.append(span(name, m.driveStart, {m.directoryStart, m.fileStart}));
    if (!directory.empty() && !begins_with_sep(directory)) out.push_back('\\');
    out.append(directory);
    if (!directory.empty() && !ends_with_sep(directory)) out.push_back('\\');
    out.append(span(name, m.fileStart, {}));
    ReplaceName(std::move(out));
    return true;
  });
}

bool cFileName::SetPath(std::string_view path) {
  return keep_code(mLastError, false, [&] {
    if (mName.empty()) {
      ReplaceName(compose(path, {}, {}));
      return true;
    }
    const rFileNameMarks m = ScanPrivate();
    std::string out(path);
    if (!path.empty() && !ends_with_sep(path)) out.push_back('\\');
    out.append(span(mName, m.fileStart, {}));
    ReplaceName(std::move(out));
    return true;
  });
}

bool cFileName::SetName(std::string_view file_name) {
  return keep_code(mLastError, false, [&] {
    if (mName.empty()) {
      ReplaceName(compose({}, file_name, {}));
      return true;
    }
    const rFileNameMarks m = ScanPrivate();
    const std::string_view name = mName;
    const size_t from = m.bodyStart == npos ? name.size() : m.bodyStart;
    const size_t to = m.fileStart == npos ? name.size() : m.fileStart;
    std::string out(name.substr(from, to - from));
    if (!file_name.empty() && is_bare_share(name, m)) out.push_back('\\');
    out.append(file_name);
    out.append(span(name, m.extensionStart, {}));
    ReplaceName(std::move(out));
    return true;
  });
}

bool cFileName::SetExtension(std::string_view extension) {
  return keep_code(mLastError, false, [&] {
    if (mName.empty()) {
      ReplaceName(compose({}, {}, extension));
      return true;
    }
    const rFileNameMarks m = ScanPrivate();
    const std::string_view name = mName;
    const size_t from = m.bodyStart == npos ? name.size() : m.bodyStart;
    const size_t to = m.extensionStart == npos ? name.size() : m.extensionStart;
    std::string out(name.substr(from, to - from));
    if (!extension.empty() && is_bare_share(name, m)) out.push_back('\\');
    append_extension(out, extension);
    ReplaceName(std::move(out));
    return true;
  });
}

bool cFileName::IncreasePath(std::string_view level) {
  if (mName.empty()) return ComposeFull({}, level, {}, {});
  bool unchanged = false;
  std::string new_directory;
  const bool ok = keep_code(mLastError, false, [&] {
    const rFileNameMarks m = ScanPrivate();
    const std::string_view directory = span(mName, m.directoryStart, {m.fileStart});
    if (level == "\\" && !directory.empty()) {
      unchanged = true;
      return true;
    }
    if (level.size() > 1 && level.front() == '\\') level.remove_prefix(1);
    new_directory = directory;
    if (!directory.empty() && !ends_with_sep(directory)) new_directory.push_back('\\');
    new_directory.append(level);
    if (!level.empty() && !ends_with_sep(level)) new_directory.push_back('\\');
    return true;
  });
  if (!ok) return false;
  if (unchanged) {
    mLastError = 0;
    return true;
  }
  return SetDirectory(new_directory);
}

// ---------------------------------------------------------------------------
// Getters

std::string cFileName::CachedPart(std::optional<std::string>& cache, int part) {
  return keep_code(mLastError, std::string(), [&] {
    if (cache) return *cache;
    if (!CheckNotEmpty()) return std::string();
    const rFileNameMarks m = ScanPrivate();
    const std::string_view name = mName;
    std::string_view text;
    switch (part) {
      case 0: text = span(name, m.driveStart, {m.directoryStart, m.fileStart}); break;
      case 1: text = span(name, m.directoryStart, {m.fileStart}); break;
      case 2: text = span(name, m.pathStart, {m.fileStart}); break;
      default: text = span(name, m.extensionStart, {}); break;
    }
    cache = std::string(text);
    return *cache;
  });
}

std::string cFileName::Drive() { return CachedPart(mCachedDrive, 0); }
std::string cFileName::Directory() { return CachedPart(mCachedDirectory, 1); }
std::string cFileName::Path() { return CachedPart(mCachedPath, 2); }
std::string cFileName::Extension() { return CachedPart(mCachedExtension, 3); }

std::string cFileName::LevelText(int32_t index) {
  if (mCachedLevel && index > 0 && mCachedLevelIndex == uint32_t(index)) return *mCachedLevel;
  mCachedLevel.reset();
  mCachedLevelIndex = 0;
  std::string directory;
  if (mCachedDirectory) {
    directory = *mCachedDirectory;
  } else {
    const rFileNameMarks m = ScanPrivate();
    directory = span(mName, m.directoryStart, {m.fileStart});
  }
  if (directory.empty()) raise_condition_error(errInvariant, "{path=NIL}");
  const std::vector<std::string_view> levels = split_levels(directory);
  if (index < 1 || size_t(index) > levels.size()) raise_condition_error(errInvariant, "{from=NIL}");
  mCachedLevel = std::string(levels[size_t(index) - 1]);  // 1-based index
  mCachedLevelIndex = uint32_t(index);
  return *mCachedLevel;
}

std::string cFileName::PathLevel(int32_t index) {
  return keep_code(mLastError, std::string(), [&] {
    if (mCachedLevel && index > 0 && mCachedLevelIndex == uint32_t(index)) return *mCachedLevel;
    if (!CheckNotEmpty()) return std::string();
    return LevelText(index);
  });
}

std::string cFileName::LastDirectory() {
  return keep_code(mLastError, std::string(), [&] {
    if (!CheckNotEmpty()) return std::string();
    ScanPrivate();
    if (mLevelCount <= 0) return std::string();
    return LevelText(mLevelCount);
  });
}

int32_t cFileName::PathLevels() {
  rFileNameMarks m;
  if (!scan_buffer(m)) return -1;
  return mLevelCount;
}

std::string cFileName::FullName() {
  return keep_code(mLastError, std::string(), [&] {
    if (!CheckNotEmpty()) return std::string();
    mBody = std::string_view(mName).starts_with(kLongPrefix) ? kLongPrefix.size() : 0;
    return mName.substr(mBody);
  });
}

bool cFileName::IsLongNetwork() const {
  std::string_view s = mName;
  if (!s.starts_with(kLongPrefix)) return false;
  s.remove_prefix(kLongPrefix.size());
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; };
  return s.size() >= 3 && lower(s[0]) == 'u' && lower(s[1]) == 'n' && lower(s[2]) == 'c' &&
         (s.size() == 3 || s[3] == '\\' || s[3] == '/');
}

std::string cFileName::SystemName() {
  return keep_code(mLastError, std::string(), [&] {
    if (!CheckNotEmpty()) return std::string();
    // The cached parts stay: they do not depend on the prefix.
    if (std::string_view(mName).starts_with(kLongPrefix)) {
      if (mName.size() - kLongPrefix.size() > cnMaxPath) {
        mBody = kLongPrefix.size();
      } else {
        mName = mName.substr(kLongPrefix.size());
        mBody = 0;
      }
    } else if (mName.size() > cnMaxPath) {
      std::string out;
      out.reserve(kLongPrefix.size() + mName.size());
      out.append(kLongPrefix).append(mName);
      mName.swap(out);
      mBody = kLongPrefix.size();
    }
    return mName;
  });
}

// ---------------------------------------------------------------------------
// Expand: a lexical resolver. The absolute form is built from the text alone
// and the current folder; nothing on the disk is looked at, so names that do
// not exist yet and wildcard patterns expand as well.

bool cFileName::Expand() {
  return keep_code(mLastError, false, [&] {
    if (!CheckNotEmpty()) return false;
    if (std::string_view(mName).starts_with(kLongPrefix)) return true;
    std::string text = mName;
    for (char& c : text)
      if (c == '/') c = '\\';
    const std::string_view s = text;

    std::string root;  // "X:\" or "\\host\share"
    bool network = false;
    std::string base;       // levels of the folder a relative name starts from
    std::string_view rest;  // the name's own levels
    auto current = [] {
      std::string cwd = plat::current_dir();
      if (cwd.empty()) raise_base_error(errWinAPICall, "{GetShortPathName}");
      return cwd;
    };
    if (s.starts_with("\\\\")) {
      network = true;
      size_t end = s.find('\\', 2);
      if (end != std::string_view::npos) end = s.find('\\', end + 1);
      if (end == std::string_view::npos) end = s.size();
      root = s.substr(0, end);
      rest = s.substr(end);
    } else if (s.size() >= 2 && is_letter(s[0]) && s[1] == ':') {
      rest = s.substr(2);
      if (begins_with_sep(rest) || (s[0] != 'C' && s[0] != 'c')) {
        // Rooted on its drive; a drive other than the current one has no
        // folder of its own and resolves from its root.
        root = std::string(s.substr(0, 2)) + "\\";
      } else {
        const std::string cwd = current();
        root = cwd.substr(0, 3);
        base = cwd.substr(3);
      }
    } else if (begins_with_sep(s)) {
      root = "C:\\";
      rest = s;
    } else {
      const std::string cwd = current();
      root = cwd.substr(0, 3);
      base = cwd.substr(3);
      rest = s;
    }

    std::vector<std::string_view> levels;
    auto walk = [&levels](std::string_view text) {
      size_t pos = 0;
      while (pos <= text.size()) {
        size_t sep = text.find('\\', pos);
        if (sep == std::string_view::npos) sep = text.size();
        const std::string_view level = text.substr(pos, sep - pos);
        if (level == "..") {
          if (!levels.empty()) levels.pop_back();  // never above the root
        } else if (!level.empty() && level != ".") {
          levels.push_back(level);
        }
        pos = sep + 1;
      }
    };
    walk(base);
    walk(rest);
    const bool trailing = ends_with_sep(rest);

    std::string out = root;
    for (size_t i = 0; i < levels.size(); ++i) {
      if (i > 0 || network) out.push_back('\\');
      out.append(levels[i]);
    }
    if (trailing && (!levels.empty() || network)) out.push_back('\\');
    ReplaceName(std::move(out));
    return true;
  });
}
