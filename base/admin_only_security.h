// Objects that only administrators and the local system account may touch:
// the security descriptor to create them with, and the check that an object
// found under a name was made that way. setup.exe runs with administrator
// rights (or as the local system account), and an object that every user
// may create or open (a mutex in Global\, a file in a folder users can
// write) is one that a user's own program can make first, hold, or deny.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <cstddef>
#include <string>

namespace vantu {

// A security descriptor whose owner is the Administrators group and whose
// DACL, protected from inheritance, allows GENERIC_ALL to Administrators
// (S-1-5-32-544) and the local system account (S-1-5-18) and nothing to
// anybody else. It keeps its SIDs, ACL and descriptor in itself, so it is
// neither copied nor moved; it must outlive every call it is handed to.
class AdminOnlySecurity {
 public:
  AdminOnlySecurity() = default;
  AdminOnlySecurity(const AdminOnlySecurity&) = delete;
  AdminOnlySecurity& operator=(const AdminOnlySecurity&) = delete;

  // Builds the descriptor. False, with the failing call's error in
  // `error`, when a call fails; the attributes must not be used then.
  bool Build(DWORD* error);

  // For a Create function: the descriptor, handles not inherited.
  SECURITY_ATTRIBUTES* attributes() { return &attributes_; }
  PSID administrators() { return administrators_; }
  PSID local_system() { return system_; }

 private:
  // An ACL header and two access-allowed entries, each a header, a mask and
  // a SID of at most SECURITY_MAX_SID_SIZE bytes.
  static constexpr size_t kAclBytes = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE);

  alignas(DWORD) BYTE administrators_[SECURITY_MAX_SID_SIZE] = {};
  alignas(DWORD) BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  alignas(DWORD) BYTE acl_[kAclBytes] = {};
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

// What the owner and DACL of an existing object say about who made it.
struct AdminOnlyCheck {
  enum class Kind {
    kAdminOnly,     // owned by Administrators or the local system account, its DACL allows nobody else
    kUnknown,       // its security could not be read (`error`)
    kOtherOwner,    // owned by someone else, or by nobody (`detail` names the owner)
    kOpenToOthers,  // its DACL allows someone else in, or there is none (`detail` says which)
  };
  Kind kind = Kind::kUnknown;
  DWORD error = 0;
  std::string detail;
};

// Reads the owner and DACL of `object`, a handle of `type` opened with
// READ_CONTROL (GetSecurityInfo), and judges them. Deny entries and the
// rights granted are not looked at: only who may be let in at all.
AdminOnlyCheck CheckAdminOnly(HANDLE object, SE_OBJECT_TYPE type);

// A SID as text, S-1-5-32-544.
std::string SidText(PSID sid);

}  // namespace vantu
