// Security and version queries: membership of the current user in the two
// builtin aliases the installer asks about, and the version of the system.
//
// The host has no tokens: the Administrators alias (544) is an effective
// user id of 0, the Power Users alias (547) membership of the group "sudo"
// or "wheel". The version query always reports the NT family. Tests pin the
// user's identity and the version through the pin functions below, so the
// answers do not depend on the account the tests run under.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plat {

constexpr uint32_t kAliasAdministrators = 544;
constexpr uint32_t kAliasPowerUsers = 547;

constexpr uint32_t kPlatformWin32Windows = 1;  // the non-NT family
constexpr uint32_t kPlatformWin32NT = 2;

// What the membership test looks at: the effective user id and the names of
// the groups the process belongs to (effective and supplementary).
struct HostIdentity {
  uint32_t euid = 0;
  std::vector<std::string> groups;
};

struct PlatformVersion {
  uint32_t platform_id = kPlatformWin32NT;
  uint32_t major = 10;
  uint32_t minor = 0;
  uint32_t build = 0;
};

// The identity of the running process as the host reports it, or the pinned one.
HostIdentity host_identity();

// True when the current user is a member of the builtin alias with this
// relative id: 544 for an effective uid of 0, 547 for a member of "sudo" or
// "wheel"; false for every other id.
bool token_in_builtin_alias(uint32_t rid);

// The system's version: the NT family, major version 10 (or the pinned one).
PlatformVersion platform_version();
// The same packed like the classic version word: major in the low byte,
// minor in the next, the build in the high word; bit 31 set outside the NT
// family.
uint32_t platform_version_word();

// Test seams: pin the identity or the version (nullopt returns to the host).
void security_pin_identity(std::optional<HostIdentity> identity);
void security_pin_version(std::optional<PlatformVersion> version);

}  // namespace plat
