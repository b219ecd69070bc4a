#include "plat_security.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace plat {
namespace {

std::mutex g_lock;
std::optional<HostIdentity> g_identity;
std::optional<PlatformVersion> g_version;

// The name of a group id, or "" when the host does not know it.
std::string group_name(gid_t gid) {
  std::vector<char> buf(1024);
  for (;;) {
    group gr{};
    group* found = nullptr;
    const int rc = getgrgid_r(gid, &gr, buf.data(), buf.size(), &found);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr || gr.gr_name == nullptr) return {};
    return gr.gr_name;
  }
}

HostIdentity query_host() {
  HostIdentity id;
  id.euid = geteuid();
  std::vector<gid_t> gids;
  const int n = getgroups(0, nullptr);
  if (n > 0) {
    gids.resize(size_t(n));
    const int got = getgroups(n, gids.data());
    gids.resize(got > 0 ? size_t(got) : 0);
  }
  gids.push_back(getegid());
  std::sort(gids.begin(), gids.end());
  gids.erase(std::unique(gids.begin(), gids.end()), gids.end());
  for (gid_t g : gids) {
    std::string name = group_name(g);
    if (!name.empty()) id.groups.push_back(std::move(name));
  }
  return id;
}

}  // namespace

HostIdentity host_identity() {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_identity) return *g_identity;
  }
  return query_host();
}

bool token_in_builtin_alias(uint32_t rid) {
  if (rid == kAliasAdministrators) return host_identity().euid == 0;
  if (rid == kAliasPowerUsers) {
    const HostIdentity id = host_identity();
    return std::any_of(id.groups.begin(), id.groups.end(),
                       [](const std::string& g) { return g == "sudo" || g == "wheel"; });
  }
  return false;
}

PlatformVersion platform_version() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_version ? *g_version : PlatformVersion{};
}

uint32_t platform_version_word() {
  const PlatformVersion v = platform_version();
  uint32_t word = (v.major & 0xFFu) | ((v.minor & 0xFFu) << 8) | ((v.build & 0x7FFFu) << 16);
  if (v.platform_id != kPlatformWin32NT) word |= 0x80000000u;
  return word;
}

void security_pin_identity(std::optional<HostIdentity> identity) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_identity = std::move(identity);
}

void security_pin_version(std::optional<PlatformVersion> version) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_version = version;
}

}  // namespace plat
