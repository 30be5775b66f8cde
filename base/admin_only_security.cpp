#include "base/admin_only_security.h"

#include "base/unique_handle.h"

namespace vantu {
namespace {

bool Failed(DWORD* error) {
  *error = GetLastError();
  return false;
}

bool MakeWellKnownSid(WELL_KNOWN_SID_TYPE type, BYTE* sid) {
  DWORD size = SECURITY_MAX_SID_SIZE;
  return CreateWellKnownSid(type, nullptr, sid, &size) != FALSE;
}

bool IsAdministratorsOrSystem(PSID sid) {
  return IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid);
}

}  // namespace

bool AdminOnlySecurity::Build(DWORD* error) {
  if (!MakeWellKnownSid(WinBuiltinAdministratorsSid, administrators_) ||
      !MakeWellKnownSid(WinLocalSystemSid, system_)) {
    return Failed(error);
  }
  auto* acl = reinterpret_cast<PACL>(acl_);
  if (!InitializeAcl(acl, sizeof acl_, ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, administrators_) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, system_)) {
    return Failed(error);
  }
  if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorOwner(&descriptor_, administrators_, FALSE) ||
      !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return Failed(error);
  }
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = &descriptor_;
  attributes_.bInheritHandle = FALSE;
  return true;
}

AdminOnlyCheck CheckAdminOnly(HANDLE object, SE_OBJECT_TYPE type) {
  AdminOnlyCheck check;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  check.error = GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                nullptr, &dacl, nullptr, &descriptor);
  const UniqueLocalMemory held(descriptor);
  if (check.error != ERROR_SUCCESS) return check;
  if (!owner || !IsAdministratorsOrSystem(owner)) {
    check.kind = AdminOnlyCheck::Kind::kOtherOwner;
    check.detail = owner ? "owner " + SidText(owner) : "no owner";
    return check;
  }
  check.kind = AdminOnlyCheck::Kind::kOpenToOthers;
  ACL_SIZE_INFORMATION size{};
  if (!dacl) {
    check.detail = "no DACL: everybody may use it";
    return check;
  }
  if (!GetAclInformation(dacl, &size, sizeof size, AclSizeInformation)) {
    check.kind = AdminOnlyCheck::Kind::kUnknown;
    check.error = GetLastError();
    return check;
  }
  for (DWORD i = 0; i < size.AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) {
      check.kind = AdminOnlyCheck::Kind::kUnknown;
      check.error = GetLastError();
      return check;
    }
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      check.detail = "its DACL has an entry of type " + std::to_string(header->AceType);
      return check;
    }
    const PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart;
    if (!IsAdministratorsOrSystem(sid)) {
      check.detail = "its DACL lets " + SidText(sid) + " in";
      return check;
    }
  }
  check.kind = AdminOnlyCheck::Kind::kAdminOnly;
  return check;
}

std::string SidText(PSID sid) {
  // The layout of a SID: revision, number of sub-authorities, a 48-bit
  // authority (big-endian), then the sub-authorities.
  const auto* bytes = static_cast<const BYTE*>(sid);
  unsigned long long authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | bytes[i];
  std::string text = "S-" + std::to_string(bytes[0]) + "-" + std::to_string(authority);
  for (BYTE i = 0; i < bytes[1]; ++i) {
    DWORD part = 0;
    for (int b = 3; b >= 0; --b) part = (part << 8) | bytes[8 + 4 * i + b];
    text += "-" + std::to_string(part);
  }
  return text;
}

}  // namespace vantu
