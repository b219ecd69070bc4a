#include <gtest/gtest.h>
#include <unistd.h>

#include "plat_security.h"

namespace {

// Restores the host answers after each test.
class PlatSecurity : public ::testing::Test {
 protected:
  void TearDown() override {
    plat::security_pin_identity(std::nullopt);
    plat::security_pin_version(std::nullopt);
  }
};

TEST_F(PlatSecurity, PinnedIdentityDecidesBothAliases) {
  struct Case {
    uint32_t euid;
    std::vector<std::string> groups;
    bool admin, power;
  };
  const Case cases[] = {
      {0, {"root"}, true, false},
      {1000, {"users"}, false, false},
      {1000, {"users", "sudo"}, false, true},
      {1000, {"wheel"}, false, true},
      {0, {"wheel"}, true, true},
      {1000, {"Sudo", "wheels", "sudoers"}, false, false},  // names match exactly
      {1000, {}, false, false},
  };
  for (const Case& c : cases) {
    plat::security_pin_identity(plat::HostIdentity{c.euid, c.groups});
    EXPECT_EQ(plat::token_in_builtin_alias(plat::kAliasAdministrators), c.admin) << c.euid;
    EXPECT_EQ(plat::token_in_builtin_alias(plat::kAliasPowerUsers), c.power) << c.euid;
    EXPECT_FALSE(plat::token_in_builtin_alias(545));  // other aliases are never claimed
  }
}

TEST_F(PlatSecurity, UnpinnedAnswersComeFromTheHost) {
  const plat::HostIdentity id = plat::host_identity();
  EXPECT_EQ(id.euid, geteuid());
  EXPECT_EQ(plat::token_in_builtin_alias(plat::kAliasAdministrators), geteuid() == 0);
  bool power = false;
  for (const std::string& g : id.groups) power = power || g == "sudo" || g == "wheel";
  EXPECT_EQ(plat::token_in_builtin_alias(plat::kAliasPowerUsers), power);
}

TEST_F(PlatSecurity, VersionIsNtUnlessPinned) {
  EXPECT_EQ(plat::platform_version().platform_id, plat::kPlatformWin32NT);
  EXPECT_EQ(plat::platform_version_word() & 0xFFu, 10u);
  EXPECT_EQ(plat::platform_version_word() & 0x80000000u, 0u);
  plat::security_pin_version(plat::PlatformVersion{plat::kPlatformWin32Windows, 4, 10, 2222});
  EXPECT_EQ(plat::platform_version_word(), 0x80000000u | (2222u << 16) | (10u << 8) | 4u);
}

}  // namespace
