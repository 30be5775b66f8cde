// Security: SIDs, ACLs and security descriptors in Windows' own layouts,
// and the owner and DACL of named objects (GetSecurityInfo). The process's
// token (api.h) is an administrator's or the local system account's; it
// holds the Administrators group, which may own objects. A named object is
// opened only when its DACL grants the token what the call asks for; one
// made with an explicit owner must name the token's user or Administrators
// (Windows says ERROR_INVALID_OWNER otherwise; Wine takes any owner).
//
// Every function logs its call and fails on demand (fake_win32/control.h);
// the descriptor GetSecurityInfo hands out goes through the resource ledger
// ("local memory") until LocalFree.
#pragma once

#include "fake_win32/api.h"

#define GENERIC_ALL 0x10000000u
#define READ_CONTROL 0x00020000u
#define SYNCHRONIZE 0x00100000u
#define MUTEX_ALL_ACCESS 0x001F0001u
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INVALID_OWNER 1307L
#define ERROR_INVALID_ACL 1336L
#define ERROR_INVALID_SID 1337L
#define ERROR_INVALID_SECURITY_DESCR 1338L
#define ERROR_ALLOTTED_SPACE_EXCEEDED 1344L

#define SECURITY_MAX_SID_SIZE 68
struct SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
};
struct SID {
  BYTE Revision;
  BYTE SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  DWORD SubAuthority[1];
};

#define ACL_REVISION 2
struct ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
};
typedef ACL* PACL;
#define ACCESS_ALLOWED_ACE_TYPE 0x0
#define ACCESS_DENIED_ACE_TYPE 0x1
struct ACE_HEADER {
  BYTE AceType;
  BYTE AceFlags;
  WORD AceSize;
};
struct ACCESS_ALLOWED_ACE {
  ACE_HEADER Header;
  DWORD Mask;
  DWORD SidStart;
};
enum ACL_INFORMATION_CLASS { AclRevisionInformation = 1, AclSizeInformation = 2 };
struct ACL_SIZE_INFORMATION {
  DWORD AceCount;
  DWORD AclBytesInUse;
  DWORD AclBytesFree;
};

// An absolute security descriptor.
#define SECURITY_DESCRIPTOR_REVISION 1
#define SE_DACL_PRESENT 0x0004
#define SE_DACL_PROTECTED 0x1000
typedef WORD SECURITY_DESCRIPTOR_CONTROL;
struct SECURITY_DESCRIPTOR {
  BYTE Revision;
  BYTE Sbz1;
  SECURITY_DESCRIPTOR_CONTROL Control;
  PSID Owner;
  PSID Group;
  PACL Sacl;
  PACL Dacl;
};
typedef PVOID PSECURITY_DESCRIPTOR;

BOOL WINAPI CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid, DWORD* size);
BOOL WINAPI EqualSid(PSID first, PSID second);
DWORD WINAPI GetLengthSid(PSID sid);
BOOL WINAPI InitializeAcl(PACL acl, DWORD size, DWORD revision);
BOOL WINAPI AddAccessAllowedAce(PACL acl, DWORD revision, DWORD mask, PSID sid);
BOOL WINAPI GetAclInformation(PACL acl, LPVOID information, DWORD length, ACL_INFORMATION_CLASS informationClass);
BOOL WINAPI GetAce(PACL acl, DWORD index, LPVOID* ace);
BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision);
BOOL WINAPI SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner, BOOL defaulted);
BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl, BOOL defaulted);
BOOL WINAPI SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL mask,
                                         SECURITY_DESCRIPTOR_CONTROL bits);

// The owner and DACL of a mutex (SE_KERNEL_OBJECT) in one allocation, for
// LocalFree. Returns the error; an object made without an owner (as Wine
// makes one without a descriptor) has none (null).
typedef DWORD SECURITY_INFORMATION;
#define OWNER_SECURITY_INFORMATION 0x00000001u
#define GROUP_SECURITY_INFORMATION 0x00000002u
#define DACL_SECURITY_INFORMATION 0x00000004u
enum SE_OBJECT_TYPE { SE_UNKNOWN_OBJECT_TYPE = 0, SE_FILE_OBJECT = 1, SE_KERNEL_OBJECT = 6 };
DWORD WINAPI GetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID* owner,
                             PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
typedef HANDLE HLOCAL;
HLOCAL WINAPI LocalFree(HLOCAL memory);
