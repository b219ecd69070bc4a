#include "plat_registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "plat_durable.h"

namespace plat {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr const char* kFolderName = "korvane-registry";
constexpr const char* kMachineFolder = "/etc/korvane-registry";
// A hive beyond this size is refused rather than read into memory.
constexpr size_t kMaxHiveBytes = size_t(64) << 20;

// Serialises this process's writers; the flock serialises processes.
std::mutex g_write_lock;
std::mutex g_config_lock;
std::string g_machine_folder;
thread_local std::string t_detail;
// How long a change waits for another process's lock on the hive.
std::atomic<int32_t> g_lock_wait_ms{kRegLockWaitMs};

// A key with at least this many subkeys (values) finds them through an index.
constexpr size_t kIndexedSubkeys = 32;
constexpr size_t kIndexedValues = 32;

struct Node {
  std::string name;
  std::vector<std::pair<std::string, std::string>> values;
  std::vector<std::unique_ptr<Node>> subkeys;
  // Subkey names in ASCII lower case -> place in `subkeys`, kept once a key
  // has kIndexedSubkeys subkeys: a hive of 150,000 sibling keys (4 MB) made
  // every section walk all the siblings before it, and took minutes to read.
  std::unordered_map<std::string, size_t> index;
  // The same for value names (one key of 100,000 values read as slowly).
  std::unordered_map<std::string, size_t> value_index;

  Node() = default;
  Node(Node&&) = default;
  Node& operator=(Node&&) = default;
  // Frees the subtree without one stack frame per level: every descendant
  // is moved into one list and freed once its own subkeys are taken from it.
  ~Node() {
    std::vector<std::unique_ptr<Node>> pending = std::move(subkeys);
    while (!pending.empty()) {
      std::unique_ptr<Node> node = std::move(pending.back());
      pending.pop_back();
      for (auto& sub : node->subkeys) pending.push_back(std::move(sub));
      node->subkeys.clear();
    }
  }
};

int32_t fail(int32_t code, std::string detail) {
  t_detail = std::move(detail);
  return code;
}

std::string errno_text(int err) { return std::generic_category().message(err); }

int32_t code_of_errno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR: return kRegPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return kRegAccessDenied;
    default: return kRegIoFailed;
  }
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

bool name_equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

bool has_control(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

// Splits a key path into its names. One leading and one trailing backslash
// are accepted; an empty name inside or a control character is refused.
bool split_path(std::string_view path, std::vector<std::string>& names) {
  names.clear();
  if (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  if (path.empty()) return true;
  if (has_control(path)) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find('\\', start);
    const std::string_view part = path.substr(start, end == std::string_view::npos ? path.npos : end - start);
    if (part.empty()) return false;
    names.emplace_back(part);
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

Node* find_child(Node& node, std::string_view name, size_t* index = nullptr) {
  if (node.subkeys.size() < kIndexedSubkeys) {
    for (size_t i = 0; i < node.subkeys.size(); ++i)
      if (name_equal(node.subkeys[i]->name, name)) {
        if (index != nullptr) *index = i;
        return node.subkeys[i].get();
      }
    return nullptr;
  }
  // add_child keeps the index whole and remove_child drops it, so it is
  // either whole or rebuilt here.
  if (node.index.size() != node.subkeys.size()) {
    node.index.clear();
    for (size_t i = 0; i < node.subkeys.size(); ++i) node.index.emplace(lowered(node.subkeys[i]->name), i);
  }
  const auto found = node.index.find(lowered(name));
  if (found == node.index.end()) return nullptr;
  if (index != nullptr) *index = found->second;
  return node.subkeys[found->second].get();
}

Node* add_child(Node& node, const std::string& name) {
  node.subkeys.push_back(std::make_unique<Node>());
  Node* child = node.subkeys.back().get();
  child->name = name;
  if (!node.index.empty()) node.index.emplace(lowered(name), node.subkeys.size() - 1);
  return child;
}

void remove_child(Node& node, size_t index) {
  node.subkeys.erase(node.subkeys.begin() + std::ptrdiff_t(index));
  node.index.clear();
}

// Finds (or, with `create`, makes) the key; `stored` receives its path in
// stored case and `made` is set when something was created.
Node* walk(Node& root, const std::vector<std::string>& names, bool create, std::string* stored = nullptr,
           bool* made = nullptr) {
  Node* node = &root;
  if (stored != nullptr) stored->clear();
  for (const std::string& name : names) {
    Node* next = find_child(*node, name);
    if (next == nullptr) {
      if (!create) return nullptr;
      next = add_child(*node, name);
      if (made != nullptr) *made = true;
    }
    if (stored != nullptr) {
      if (!stored->empty()) stored->push_back('\\');
      stored->append(next->name);
    }
    node = next;
  }
  return node;
}

std::pair<std::string, std::string>* find_value(Node& node, std::string_view name, size_t* index = nullptr) {
  if (node.values.size() < kIndexedValues) {
    for (size_t i = 0; i < node.values.size(); ++i)
      if (name_equal(node.values[i].first, name)) {
        if (index != nullptr) *index = i;
        return &node.values[i];
      }
    return nullptr;
  }
  // As the subkeys' index: whole, or rebuilt here.
  if (node.value_index.size() != node.values.size()) {
    node.value_index.clear();
    for (size_t i = 0; i < node.values.size(); ++i) node.value_index.emplace(lowered(node.values[i].first), i);
  }
  const auto found = node.value_index.find(lowered(name));
  if (found == node.value_index.end()) return nullptr;
  if (index != nullptr) *index = found->second;
  return &node.values[found->second];
}

void add_value(Node& node, std::string_view name, std::string_view data) {
  node.values.emplace_back(name, data);
  if (!node.value_index.empty()) node.value_index.emplace(lowered(name), node.values.size() - 1);
}

void remove_value(Node& node, size_t index) {
  node.values.erase(node.values.begin() + std::ptrdiff_t(index));
  node.value_index.clear();
}

void seed(Node& root) {
  walk(root, {"SOFTWARE", "Microsoft", "Windows", "CurrentVersion", "Run"}, true);
  walk(root, {"SOFTWARE", "Microsoft", "Windows", "CurrentVersion", "Uninstall"}, true);
}

// ---- The text format -------------------------------------------------------

void append_quoted(std::string& out, std::string_view s) {
  out.push_back('"');
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

void write_section(std::string& out, const Node& node, const std::string& path) {
  out += '[';
  out += path;
  out += "]\r\n";
  for (const auto& [name, data] : node.values) {
    if (name.empty())
      out += '@';
    else
      append_quoted(out, name);
    out += '=';
    append_quoted(out, data);
    out += "\r\n";
  }
  out += "\r\n";
}

// Writes the hive text, each key before its subkeys in stored order. The
// walk keeps its own stack (a key and the next subkey to write), so the
// depth of the tree costs no stack frames. Answers false, with `out`
// cleared, once the text would pass the size of a hive the reader takes:
// such a hive could never be read back.
bool serialize(const Node& root, const char* root_name, std::string& out) {
  out.assign(kHeader);
  out += "\r\n\r\n";
  std::string path = root_name;
  std::vector<std::pair<const Node*, size_t>> stack{{&root, 0}};
  write_section(out, root, path);
  while (!stack.empty()) {
    const Node* node = stack.back().first;
    const size_t next = stack.back().second++;
    if (next == node->subkeys.size()) {
      stack.pop_back();
      if (!stack.empty()) path.resize(path.size() - node->name.size() - 1);
      continue;
    }
    const Node* sub = node->subkeys[next].get();
    path += '\\';
    path += sub->name;
    write_section(out, *sub, path);
    if (out.size() > kMaxHiveBytes) {
      out.clear();
      return false;
    }
    stack.emplace_back(sub, 0);
  }
  return true;
}

// Reads a quoted string starting at line[pos] == '"'; pos ends after the
// closing quote. Answers an error text, empty on success.
std::string parse_quoted(std::string_view line, size_t& pos, std::string& out) {
  out.clear();
  ++pos;
  while (pos < line.size()) {
    char c = line[pos++];
    if (c == '"') return {};
    if (c == '\\') {
      if (pos >= line.size() || (line[pos] != '\\' && line[pos] != '"'))
        return "a backslash in a string must be followed by \\ or \"";
      c = line[pos++];
    } else if ((unsigned char)c < 0x20 || c == 0x7F) {
      return "control character in a string";
    }
    out.push_back(c);
  }
  return "unterminated string";
}

// Parses a hive text into `root`; answers an error text naming the line,
// empty on success.
std::string parse(std::string_view text, const char* root_name, Node& root) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  Node* current = nullptr;
  size_t line_no = 0;
  size_t pos = 0;
  std::vector<std::string> names;
  std::string name, data;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? text.npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++line_no;
    const std::string where = "line " + std::to_string(line_no) + ": ";
    if (line_no == 1) {
      if (line != kHeader) return where + "the header \"" + std::string(kHeader) + "\" is missing";
      continue;
    }
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 2) return where + "a key line must end with ']'";
      const std::string_view path = line.substr(1, line.size() - 2);
      if (!path.empty() && path.front() == '-') return where + "key deletions are not supported";
      const size_t cut = path.find('\\');
      if (!name_equal(path.substr(0, cut), root_name)) return where + "the key is not under " + root_name;
      if (cut != std::string_view::npos && (path.back() == '\\' || !split_path(path.substr(cut), names)))
        return where + "the key path has an empty or invalid name";
      if (cut == std::string_view::npos) names.clear();
      if (names.size() > kRegMaxKeyDepth)
        return where + "the key is deeper than " + std::to_string(kRegMaxKeyDepth) + " levels";
      current = walk(root, names, true);
      continue;
    }
    if (current == nullptr) return where + "a value comes before any key";
    size_t p = 0;
    if (line.front() == '@') {
      name.clear();
      p = 1;
    } else if (line.front() == '"') {
      const std::string err = parse_quoted(line, p, name);
      if (!err.empty()) return where + err;
      if (name.empty()) return where + "an empty value name must be written @";
    } else {
      return where + "expected a key in brackets or a quoted value name";
    }
    if (p >= line.size() || line[p] != '=') return where + "expected '=' after the value name";
    ++p;
    if (p >= line.size() || line[p] != '"') return where + "only string values are supported";
    const std::string err = parse_quoted(line, p, data);
    if (!err.empty()) return where + err;
    if (p != line.size()) return where + "unexpected text after the value";
    if (auto* v = find_value(*current, name))
      v->second = data;
    else
      add_value(*current, name, data);
  }
  if (line_no == 0) return "the file is empty";
  return {};
}

// ---- Files -----------------------------------------------------------------

std::string user_config_home() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config";
  std::vector<char> buf(4096);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr && pw.pw_dir != nullptr &&
      pw.pw_dir[0] == '/')
    return std::string(pw.pw_dir) + "/.config";
  return {};
}

std::string hive_folder(RegRoot root) {
  if (root == RegRoot::LocalMachine) {
    std::lock_guard<std::mutex> hold(g_config_lock);
    return g_machine_folder.empty() ? kMachineFolder : g_machine_folder;
  }
  const std::string base = user_config_home();
  return base.empty() ? std::string() : base + "/" + kFolderName;
}

// mkdir -p with mode 0700 for what is created.
int32_t make_folder(const std::string& folder) {
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i < folder.size() && folder[i] != '/') continue;
    const std::string part = folder.substr(0, i);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      const int err = errno;
      return fail(code_of_errno(err), "cannot create the registry folder " + part + ": " + errno_text(err));
    }
  }
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return fail(kRegPathNotFound, "the registry folder " + folder + " is not a folder");
  return kRegOk;
}

// Loads the hive; a missing file gives the seeded hive.
int32_t load(RegRoot root, const std::string& file, Node& tree) {
  tree = Node{};
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) {
      seed(tree);
      return kRegOk;
    }
    return fail(code_of_errno(err), "cannot open " + file + ": " + errno_text(err));
  }
  struct stat st {};
  std::string text;
  int32_t rc = kRegOk;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    rc = fail(kRegCorrupt, file + " is not a regular file");
  } else if (uint64_t(st.st_size) > kMaxHiveBytes) {
    rc = fail(kRegCorrupt, file + " is larger than a hive can be");
  } else {
    char buf[65536];
    for (;;) {
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        const int err = errno;
        rc = fail(kRegIoFailed, "cannot read " + file + ": " + errno_text(err));
        break;
      }
      if (n == 0) break;
      text.append(buf, size_t(n));
      if (text.size() > kMaxHiveBytes) {
        rc = fail(kRegCorrupt, file + " is larger than a hive can be");
        break;
      }
    }
  }
  close(fd);
  if (rc != kRegOk) return rc;
  const std::string err = parse(text, reg_root_name(root), tree);
  if (!err.empty()) return fail(kRegCorrupt, "the registry hive " + file + " is corrupt at " + err);
  return kRegOk;
}

// Replaces the hive file by `text` through the one durable-write routine
// (temporary file, fsync, rename, fsync of the folder). On failure the old
// file stays and the temporary is removed. Runs under the hive's lock.
int32_t store(const std::string& folder, const std::string& file, const std::string& text) {
  durable_remove_stale(folder);  // what a killed earlier store left there
  DurableFailure failure;
  if (durable_replace(file, text.data(), int64_t(text.size()), 0600, failure)) return kRegOk;
  switch (failure.stage) {
    case DurableStage::Create:
      return fail(code_of_errno(failure.err),
                  "cannot create a temporary file beside " + file + ": " + errno_text(failure.err));
    case DurableStage::Folder:
      return fail(kRegIoFailed, "cannot sync the folder " + folder + ": " + errno_text(failure.err));
    default: return fail(kRegIoFailed, "cannot write " + file + ": " + errno_text(failure.err));
  }
}

// The hive locked for a change: the sidecar lock file held with an
// exclusive flock for the object's lifetime.
class HiveLock {
 public:
  ~HiveLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the flock
  }
  int32_t Acquire(const std::string& file) {
    const std::string name = file + ".lock";
    fd_ = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      const int err = errno;
      return fail(code_of_errno(err), "cannot open the lock " + name + ": " + errno_text(err));
    }
    // Another process of the user holding the lock for longer than the
    // wait (a stopped or hung writer) must not hold this one for ever: the
    // lock is tried at short intervals until the wait has passed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_lock_wait_ms.load());
    auto pause = std::chrono::milliseconds(1);
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      if (err != EWOULDBLOCK) return fail(kRegIoFailed, "cannot lock " + name + ": " + errno_text(err));
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline)
        return fail(kRegIoFailed, "the registry hive " + file + " stayed locked by another process for " +
                                      std::to_string(g_lock_wait_ms.load()) + " ms (lock file " + name + ")");
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
      pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    return kRegOk;
  }

 private:
  int fd_ = -1;
};

// Runs `change(tree, changed)` on the freshly loaded hive under the lock and
// stores the hive when the change succeeded and changed something.
template <class Change>
int32_t modify(RegRoot root, Change&& change) {
  const std::string folder = hive_folder(root);
  if (folder.empty()) return fail(kRegPathNotFound, "no home folder for the registry");
  const std::string file = folder + "/" + reg_root_name(root) + ".reg";
  std::lock_guard<std::mutex> hold(g_write_lock);
  int32_t rc = make_folder(folder);
  if (rc != kRegOk) return rc;
  HiveLock lock;
  if ((rc = lock.Acquire(file)) != kRegOk) return rc;
  Node tree;
  if ((rc = load(root, file, tree)) != kRegOk) return rc;
  bool changed = false;
  if ((rc = change(tree, changed)) != kRegOk || !changed) return rc;
  std::string text;
  if (!serialize(tree, reg_root_name(root), text))
    return fail(kRegIoFailed, "the hive " + file + " would grow beyond the largest hive the reader takes");
  return store(folder, file, text);
}

// Loads the hive for reading; rename keeps every read consistent without a lock.
int32_t read_hive(RegRoot root, Node& tree) {
  const std::string file = reg_hive_file(root);
  if (file.empty()) return fail(kRegPathNotFound, "no home folder for the registry");
  return load(root, file, tree);
}

// The key of an open handle in a loaded hive.
int32_t key_node(Node& tree, const RegKey& key, Node*& node) {
  std::vector<std::string> names;
  if (!key.open || !split_path(key.path, names)) return fail(kRegInvalidHandle, "the key is not open");
  node = walk(tree, names, false);
  if (node == nullptr) return fail(kRegKeyDeleted, "the key " + key.path + " has been deleted");
  return kRegOk;
}

int32_t check_text(std::string_view s, const char* what) {
  if (has_control(s)) return fail(kRegInvalidParameter, std::string(what) + " holds a control character");
  return kRegOk;
}

}  // namespace

const char* reg_root_name(RegRoot root) {
  return root == RegRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string reg_hive_file(RegRoot root) {
  const std::string folder = hive_folder(root);
  return folder.empty() ? folder : folder + "/" + reg_root_name(root) + ".reg";
}

std::string reg_last_error_detail() { return t_detail; }

int32_t reg_parse_hive(RegRoot root, std::string_view text, std::string& canonical) {
  canonical.clear();
  Node tree;
  const std::string err = parse(text, reg_root_name(root), tree);
  if (!err.empty()) return fail(kRegCorrupt, "the registry hive is corrupt at " + err);
  if (!serialize(tree, reg_root_name(root), canonical))
    return fail(kRegIoFailed, "the hive would grow beyond the largest hive the reader takes");
  return kRegOk;
}

void reg_set_lock_wait_ms(int32_t ms) { g_lock_wait_ms = ms < 0 ? kRegLockWaitMs : ms; }

void reg_set_machine_folder(const std::string& folder) {
  std::lock_guard<std::mutex> hold(g_config_lock);
  g_machine_folder = folder;
}

int32_t reg_create_key(RegRoot root, std::string_view path, RegKey& key, bool* created) {
  key = RegKey{};
  std::vector<std::string> names;
  if (!split_path(path, names)) return fail(kRegInvalidParameter, "invalid key path");
  if (names.size() > kRegMaxKeyDepth)
    return fail(kRegInvalidParameter, "the key path is deeper than " + std::to_string(kRegMaxKeyDepth) + " levels");
  std::string stored;
  bool made = false;
  const int32_t rc = modify(root, [&](Node& tree, bool& changed) {
    walk(tree, names, true, &stored, &made);
    changed = made;
    return kRegOk;
  });
  if (rc != kRegOk) return rc;
  if (created != nullptr) *created = made;
  key = RegKey{root, stored, true};
  return kRegOk;
}

int32_t reg_open_key(RegRoot root, std::string_view path, RegKey& key) {
  key = RegKey{};
  std::vector<std::string> names;
  if (!split_path(path, names)) return fail(kRegInvalidParameter, "invalid key path");
  Node tree;
  if (const int32_t rc = read_hive(root, tree); rc != kRegOk) return rc;
  std::string stored;
  if (walk(tree, names, false, &stored) == nullptr) return fail(kRegNotFound, "no key " + std::string(path));
  key = RegKey{root, stored, true};
  return kRegOk;
}

void reg_close_key(RegKey& key) { key = RegKey{}; }

int32_t reg_set_string(const RegKey& key, std::string_view name, std::string_view data) {
  if (int32_t rc = check_text(name, "the value name"); rc != kRegOk) return rc;
  if (int32_t rc = check_text(data, "the value data"); rc != kRegOk) return rc;
  if (!key.open) return fail(kRegInvalidHandle, "the key is not open");
  return modify(key.root, [&](Node& tree, bool& changed) {
    Node* node = nullptr;
    if (const int32_t rc = key_node(tree, key, node); rc != kRegOk) return rc;
    if (auto* v = find_value(*node, name)) {
      changed = v->second != data;
      v->second = data;
    } else {
      add_value(*node, name, data);
      changed = true;
    }
    return kRegOk;
  });
}

int32_t reg_query_string(const RegKey& key, std::string_view name, std::string& data) {
  data.clear();
  Node tree;
  Node* node = nullptr;
  if (const int32_t rc = read_hive(key.root, tree); rc != kRegOk) return rc;
  if (const int32_t rc = key_node(tree, key, node); rc != kRegOk) return rc;
  const auto* v = find_value(*node, name);
  if (v == nullptr) return fail(kRegNotFound, "no value " + std::string(name) + " under " + key.path);
  data = v->second;
  return kRegOk;
}

int32_t reg_enum_values(const RegKey& key, std::vector<std::string>& names) {
  names.clear();
  Node tree;
  Node* node = nullptr;
  if (const int32_t rc = read_hive(key.root, tree); rc != kRegOk) return rc;
  if (const int32_t rc = key_node(tree, key, node); rc != kRegOk) return rc;
  for (const auto& v : node->values) names.push_back(v.first);
  return kRegOk;
}

int32_t reg_enum_subkeys(const RegKey& key, std::vector<std::string>& names) {
  names.clear();
  Node tree;
  Node* node = nullptr;
  if (const int32_t rc = read_hive(key.root, tree); rc != kRegOk) return rc;
  if (const int32_t rc = key_node(tree, key, node); rc != kRegOk) return rc;
  for (const auto& sub : node->subkeys) names.push_back(sub->name);
  return kRegOk;
}

int32_t reg_delete_value(const RegKey& key, std::string_view name) {
  if (!key.open) return fail(kRegInvalidHandle, "the key is not open");
  return modify(key.root, [&](Node& tree, bool& changed) {
    Node* node = nullptr;
    if (const int32_t rc = key_node(tree, key, node); rc != kRegOk) return rc;
    size_t index = 0;
    if (find_value(*node, name, &index) == nullptr)
      return fail(kRegNotFound, "no value " + std::string(name) + " under " + key.path);
    remove_value(*node, index);
    changed = true;
    return kRegOk;
  });
}

int32_t reg_delete_key(RegRoot root, std::string_view path) {
  std::vector<std::string> names;
  if (!split_path(path, names) || names.empty()) return fail(kRegInvalidParameter, "invalid key path");
  const std::string last = names.back();
  names.pop_back();
  return modify(root, [&](Node& tree, bool& changed) {
    Node* parent = walk(tree, names, false);
    size_t index = 0;
    Node* node = parent == nullptr ? nullptr : find_child(*parent, last, &index);
    if (node == nullptr) return fail(kRegNotFound, "no key " + std::string(path));
    if (!node->subkeys.empty()) return fail(kRegAccessDenied, "the key " + std::string(path) + " has subkeys");
    remove_child(*parent, index);
    changed = true;
    return kRegOk;
  });
}

}  // namespace plat
