#include "base/admin_only_security.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/unique_handle.h"
#include "tests/support/scratch.h"

namespace vantu {
namespace {

class AdminOnlySecurityTest : public test_support::PlatformTest {};

// A mutex made with AdminOnlySecurity's descriptor, then with its DACL
// opened to everybody or taken away, and what the check finds on each. (An
// owner of another user's: the guard's tests, in-memory and under Wine.)
TEST_F(AdminOnlySecurityTest, JudgesWhoAnObjectLetsIn) {
  BYTE everybody[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof everybody;
  ASSERT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, everybody, &size));
  alignas(DWORD) BYTE open[64];
  ASSERT_TRUE(InitializeAcl(reinterpret_cast<PACL>(open), sizeof open, ACL_REVISION));
  ASSERT_TRUE(AddAccessAllowedAce(reinterpret_cast<PACL>(open), ACL_REVISION, SYNCHRONIZE, everybody));
  const struct {
    bool replaced;  // the descriptor's DACL by `dacl`
    PACL dacl;
    AdminOnlyCheck::Kind kind;
    const char* detail;
  } cases[] = {{false, nullptr, AdminOnlyCheck::Kind::kAdminOnly, ""},
               {true, reinterpret_cast<PACL>(open), AdminOnlyCheck::Kind::kOpenToOthers, "its DACL lets S-1-1-0 in"},
               {true, nullptr, AdminOnlyCheck::Kind::kOpenToOthers, "no DACL: everybody may use it"}};
  int made = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.detail);
    AdminOnlySecurity security;
    DWORD error = 0;
    ASSERT_TRUE(security.Build(&error)) << error;
    EXPECT_EQ("S-1-5-32-544", SidText(security.administrators()));
    EXPECT_EQ("S-1-5-18", SidText(security.local_system()));
    auto* descriptor = static_cast<SECURITY_DESCRIPTOR*>(security.attributes()->lpSecurityDescriptor);
    ASSERT_TRUE(!c.replaced || SetSecurityDescriptorDacl(descriptor, TRUE, c.dacl, FALSE));
    const std::wstring name = L"Global\\FanSetupTest.AdminOnly." + std::to_wstring(GetCurrentProcessId()) + L"." +
                              std::to_wstring(++made);
    const UniqueKernelHandle mutex(CreateMutexW(security.attributes(), FALSE, name.c_str()));
    ASSERT_TRUE(mutex) << GetLastError();
    const AdminOnlyCheck check = CheckAdminOnly(mutex.get(), SE_KERNEL_OBJECT);
    EXPECT_EQ(c.kind, check.kind) << check.error;
    EXPECT_EQ(c.detail, check.detail);
  }
}

}  // namespace
}  // namespace vantu
