#include "sandbox.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "plat_ipc.h"
#include "plat_registry.h"

namespace testenv {
namespace {
std::string g_root;
}

void sandbox_enter() {
  if (!g_root.empty()) return;
  std::string templ = (std::filesystem::temp_directory_path() / "qlm-test-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("cannot create the test sandbox");
  g_root = templ;
  const std::filesystem::path root(g_root);
  for (const char* sub : {"home", "home/.local/share", "home/.config", "home/.cache", "home/Desktop"})
    std::filesystem::create_directories(root / sub);
  setenv("HOME", (root / "home").c_str(), 1);
  setenv("XDG_DATA_HOME", (root / "home/.local/share").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root / "home/.config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (root / "home/.cache").c_str(), 1);
  setenv("QLM_SANDBOX_TOKEN", root.filename().c_str(), 1);
  // The runtime folder (named mutexes, window endpoints) is the sandbox's
  // own, private as a session's is; programs a test starts inherit it.
  std::filesystem::create_directories(root / "runtime");
  std::filesystem::permissions(root / "runtime", std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", (root / "runtime").c_str(), 1);
  // Names shared between processes (named mutexes, windows) carry the token,
  // so that parallel test runs never meet.
  plat::ipc_set_name_token(root.filename().string());
  // The local machine's hive lives in the sandbox too, never in /etc.
  plat::reg_set_machine_folder((root / "machine-registry").string());
  if (chdir(g_root.c_str()) != 0) throw std::runtime_error("cannot enter the test sandbox");
}

void sandbox_leave() {
  if (g_root.empty()) return;
  std::error_code ec;
  if (chdir("/") != 0) {
  }
  std::filesystem::remove_all(g_root, ec);
  g_root.clear();
}

const std::string& sandbox_root() { return g_root; }

std::string sandbox_dir(const std::string& name) {
  std::filesystem::path p = std::filesystem::path(g_root) / "work" / name;
  std::error_code ec;
  std::filesystem::remove_all(p, ec);
  std::filesystem::create_directories(p);
  return p.string();
}

SavedEnv::SavedEnv(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = std::getenv(name);
    saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
}

SavedEnv::~SavedEnv() {
  for (const auto& [name, value] : saved_) {
    if (value)
      setenv(name.c_str(), value->c_str(), 1);
    else
      unsetenv(name.c_str());
  }
}

}  // namespace testenv
