// The process's token and the functions found at run time: whose account
// the process runs as, kernel32's functions that GetProcAddress hands out,
// the process mitigation policy; SIDs, ACLs and security descriptors, and
// the access check of a named object against the token.
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fake_win32/control.h"
#include "internal.h"

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Hex;
using internal::Num;
using internal::Ptr;

struct SecurityState {
  bool localSystem = false;
  std::set<uintptr_t> tokens;
  std::set<std::string> kernel32Functions;
};

SecurityState& State() {
  static SecurityState state;
  return state;
}

// S-1-5-18 (the local system account) and S-1-5-21-1-2-3-500 (an
// administrator's account), laid out as Windows keeps a SID.
const BYTE kLocalSystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const BYTE kAdministratorSid[] = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0,
                                  2, 0, 0, 0, 3, 0, 0, 0, 0xF4, 1, 0, 0};

// The address of kernel32 as GetModuleHandleW hands it out.
BYTE g_kernel32;

const char kAdministratorsText[] = "S-1-5-32-544";

std::string WellKnown(WELL_KNOWN_SID_TYPE type) {
  switch (type) {
    case WinWorldSid:
      return internal::SidFromText("S-1-1-0");
    case WinLocalSystemSid:
      return internal::SidFromText("S-1-5-18");
    case WinBuiltinAdministratorsSid:
      return internal::SidFromText(kAdministratorsText);
  }
  return "";
}

// The token's user first, then its groups: Administrators (which may own
// objects), Everyone, Authenticated Users.
std::vector<std::string> TokenSids() {
  const BYTE* user = State().localSystem ? kLocalSystemSid : kAdministratorSid;
  const size_t size = State().localSystem ? sizeof kLocalSystemSid : sizeof kAdministratorSid;
  return {std::string(reinterpret_cast<const char*>(user), size), internal::SidFromText(kAdministratorsText),
          internal::SidFromText("S-1-1-0"), internal::SidFromText("S-1-5-11")};
}

}  // namespace

namespace internal {

std::string SidFromText(const std::string& text) {
  // S-R-A-S1-S2-...: revision, authority, sub-authorities.
  std::vector<unsigned long long> parts;
  size_t at = 2;
  while (at <= text.size()) {
    const size_t dash = text.find('-', at);
    parts.push_back(std::stoull(text.substr(at, dash - at)));
    if (dash == std::string::npos) break;
    at = dash + 1;
  }
  std::string sid(8 + 4 * (parts.size() - 2), '\0');
  sid[0] = static_cast<char>(parts[0]);
  sid[1] = static_cast<char>(parts.size() - 2);
  for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<char>(parts[1] >> (8 * (5 - i)));
  for (size_t i = 2; i < parts.size(); ++i) {
    const DWORD value = static_cast<DWORD>(parts[i]);
    std::memcpy(&sid[8 + 4 * (i - 2)], &value, sizeof value);
  }
  return sid;
}

std::string TextOfSid(const void* sid) {
  const auto* bytes = static_cast<const BYTE*>(sid);
  unsigned long long authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | bytes[i];
  std::string text = "S-" + std::to_string(bytes[0]) + "-" + std::to_string(authority);
  for (BYTE i = 0; i < bytes[1]; ++i) {
    DWORD value = 0;
    std::memcpy(&value, bytes + 8 + 4 * i, sizeof value);
    text += "-" + std::to_string(value);
  }
  return text;
}

size_t SidSize(const void* sid) { return sid ? 8 + 4 * static_cast<const BYTE*>(sid)[1] : 0; }

std::string AclFromEntries(const std::vector<AccessEntry>& entries) {
  std::string acl(sizeof(ACL), '\0');
  for (const AccessEntry& entry : entries) {
    const std::string sid = entry.sid.rfind("S-", 0) == 0 ? SidFromText(entry.sid) : entry.sid;
    const ACE_HEADER header{static_cast<BYTE>(entry.allow ? ACCESS_ALLOWED_ACE_TYPE : ACCESS_DENIED_ACE_TYPE), 0,
                            static_cast<WORD>(sizeof(ACE_HEADER) + sizeof(DWORD) + sid.size())};
    acl.append(reinterpret_cast<const char*>(&header), sizeof header);
    acl.append(reinterpret_cast<const char*>(&entry.mask), sizeof entry.mask);
    acl += sid;
  }
  const ACL head{ACL_REVISION, 0, static_cast<WORD>(acl.size()), static_cast<WORD>(entries.size()), 0};
  std::memcpy(&acl[0], &head, sizeof head);
  return acl;
}

std::vector<AccessEntry> EntriesOfAcl(const void* acl) {
  std::vector<AccessEntry> entries;
  const auto* head = static_cast<const ACL*>(acl);
  const BYTE* at = static_cast<const BYTE*>(acl) + sizeof(ACL);
  for (WORD i = 0; i < head->AceCount; ++i) {
    ACE_HEADER header;
    DWORD mask = 0;
    std::memcpy(&header, at, sizeof header);
    std::memcpy(&mask, at + sizeof header, sizeof mask);
    entries.push_back(AccessEntry{TextOfSid(at + sizeof header + sizeof mask), mask,
                                  header.AceType == ACCESS_ALLOWED_ACE_TYPE});
    at += header.AceSize;
  }
  return entries;
}

bool TokenHolds(const std::string& sid) {
  for (const std::string& held : TokenSids()) {
    if (held == sid) return true;
  }
  return false;
}

bool SecurityToMake(const SECURITY_DESCRIPTOR* descriptor, Security* security) {
  const std::string administrators = SidFromText(kAdministratorsText);
  if (!descriptor) {
    security->owner = administrators;
    security->daclPresent = true;
    security->acl = AclFromEntries({{kAdministratorsText, GENERIC_ALL}, {"S-1-5-18", GENERIC_ALL}});
    return true;
  }
  security->owner = descriptor->Owner ? std::string(static_cast<const char*>(descriptor->Owner),
                                                    SidSize(descriptor->Owner))
                                      : administrators;
  // The token's user, or a group of it that may own objects.
  if (security->owner != TokenSids()[0] && security->owner != administrators) {
    SetLastError(ERROR_INVALID_OWNER);
    return false;
  }
  security->daclPresent = (descriptor->Control & SE_DACL_PRESENT) && descriptor->Dacl;
  security->acl = security->daclPresent ? AclFromEntries(EntriesOfAcl(descriptor->Dacl)) : std::string();
  return true;
}

bool Grants(const Security& security, DWORD requested) {
  if (!security.daclPresent) return true;
  DWORD granted = 0;
  for (const AccessEntry& entry : EntriesOfAcl(security.acl.data())) {
    if (!TokenHolds(SidFromText(entry.sid))) continue;
    const DWORD rights = (entry.mask & GENERIC_ALL) ? 0xFFFFFFFFu : entry.mask;
    if (!entry.allow && (rights & requested & ~granted)) return false;
    if (entry.allow) granted |= rights;
  }
  return (granted & requested) == requested;
}

void ResetSecurity() {
  State().localSystem = false;
  State().tokens.clear();
  State().kernel32Functions.clear();
}

bool CloseToken(HANDLE handle) {
  if (State().tokens.erase(reinterpret_cast<uintptr_t>(handle)) == 0) return false;
  Closed("token", handle);
  return true;
}

BOOL WINAPI SetProcessMitigationPolicy(int policy, PVOID buffer, SIZE_T length) {
  DWORD flags = 0;
  if (buffer && length >= sizeof flags) std::memcpy(&flags, buffer, sizeof flags);
  if (auto fault = Enter("SetProcessMitigationPolicy", {Num(policy), Hex(flags), Num(static_cast<int64_t>(length))})) {
    SetLastError(*fault);
    return FALSE;
  }
  return TRUE;
}

}  // namespace internal

void SetRunningAsLocalSystem(bool system) { State().localSystem = system; }
bool RunningAsLocalSystem() { return State().localSystem; }

void ProvideKernel32Function(const std::string& name) { State().kernel32Functions.insert(name); }

}  // namespace fake_win32

using namespace fake_win32;

HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token) {
  if (auto fault = Enter("OpenProcessToken", {Ptr(process), Hex(desiredAccess)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!token || process != GetCurrentProcess()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const uintptr_t value = internal::NewHandleValue();
  State().tokens.insert(value);
  *token = reinterpret_cast<HANDLE>(value);
  internal::Opened("token", *token);
  return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                DWORD length, LPDWORD returnLength) {
  if (auto fault = Enter("GetTokenInformation", {Ptr(token), Num(informationClass), Num(length)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!State().tokens.count(reinterpret_cast<uintptr_t>(token))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (informationClass != TokenUser || !returnLength) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const BYTE* sid = State().localSystem ? kLocalSystemSid : kAdministratorSid;
  const size_t sidSize = State().localSystem ? sizeof kLocalSystemSid : sizeof kAdministratorSid;
  // The SID follows the record, as Windows lays it out.
  const DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + sidSize);
  *returnLength = needed;
  if (!information || length < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* user = static_cast<TOKEN_USER*>(information);
  BYTE* sidCopy = static_cast<BYTE*>(information) + sizeof(TOKEN_USER);
  std::memcpy(sidCopy, sid, sidSize);
  user->User.Sid = sidCopy;
  user->User.Attributes = 0;
  return TRUE;
}

BOOL WINAPI IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
  internal::Record("IsWellKnownSid", {Ptr(sid), Num(type)});
  const std::string known = WellKnown(type);
  return sid && !known.empty() && internal::SidSize(sid) == known.size() &&
                 std::memcmp(sid, known.data(), known.size()) == 0
             ? TRUE
             : FALSE;
}

BOOL WINAPI CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid, DWORD* size) {
  if (auto fault = Enter("CreateWellKnownSid", {Num(type), Ptr(domain), Ptr(sid)})) {
    SetLastError(*fault);
    return FALSE;
  }
  const std::string known = WellKnown(type);
  if (known.empty() || domain || !size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD available = *size;
  *size = static_cast<DWORD>(known.size());
  if (!sid || available < known.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(sid, known.data(), known.size());
  return TRUE;
}

BOOL WINAPI EqualSid(PSID first, PSID second) {
  internal::Record("EqualSid", {Ptr(first), Ptr(second)});
  const size_t size = internal::SidSize(first);
  return size == internal::SidSize(second) && std::memcmp(first, second, size) == 0 ? TRUE : FALSE;
}

DWORD WINAPI GetLengthSid(PSID sid) {
  internal::Record("GetLengthSid", {Ptr(sid)});
  return static_cast<DWORD>(internal::SidSize(sid));
}

BOOL WINAPI InitializeAcl(PACL acl, DWORD size, DWORD revision) {
  if (auto fault = Enter("InitializeAcl", {Ptr(acl), Num(size), Num(revision)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!acl || size < sizeof(ACL) || size > 0xFFFF || revision != ACL_REVISION) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *acl = ACL{ACL_REVISION, 0, static_cast<WORD>(size & ~3u), 0, 0};
  return TRUE;
}

BOOL WINAPI AddAccessAllowedAce(PACL acl, DWORD revision, DWORD mask, PSID sid) {
  if (auto fault = Enter("AddAccessAllowedAce", {Ptr(acl), Num(revision), Hex(mask), Ptr(sid)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!acl || !sid || revision != ACL_REVISION || acl->AclRevision != ACL_REVISION) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string entries = internal::AclFromEntries(internal::EntriesOfAcl(acl));
  const size_t used = entries.size();
  const size_t sidSize = internal::SidSize(sid);
  const size_t entrySize = sizeof(ACE_HEADER) + sizeof(DWORD) + sidSize;
  if (used + entrySize > acl->AclSize) {
    SetLastError(ERROR_ALLOTTED_SPACE_EXCEEDED);
    return FALSE;
  }
  BYTE* at = reinterpret_cast<BYTE*>(acl) + used;
  const ACE_HEADER header{ACCESS_ALLOWED_ACE_TYPE, 0, static_cast<WORD>(entrySize)};
  std::memcpy(at, &header, sizeof header);
  std::memcpy(at + sizeof header, &mask, sizeof mask);
  std::memcpy(at + sizeof header + sizeof mask, sid, sidSize);
  ++acl->AceCount;
  return TRUE;
}

BOOL WINAPI GetAclInformation(PACL acl, LPVOID information, DWORD length, ACL_INFORMATION_CLASS informationClass) {
  if (auto fault = Enter("GetAclInformation", {Ptr(acl), Num(length), Num(informationClass)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!acl || !information || informationClass != AclSizeInformation || length < sizeof(ACL_SIZE_INFORMATION)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const size_t used = internal::AclFromEntries(internal::EntriesOfAcl(acl)).size();
  *static_cast<ACL_SIZE_INFORMATION*>(information) =
      ACL_SIZE_INFORMATION{acl->AceCount, static_cast<DWORD>(used), static_cast<DWORD>(acl->AclSize - used)};
  return TRUE;
}

BOOL WINAPI GetAce(PACL acl, DWORD index, LPVOID* ace) {
  if (auto fault = Enter("GetAce", {Ptr(acl), Num(index)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!acl || !ace || index >= acl->AceCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  BYTE* at = reinterpret_cast<BYTE*>(acl) + sizeof(ACL);
  for (DWORD i = 0; i < index; ++i) at += reinterpret_cast<ACE_HEADER*>(at)->AceSize;
  *ace = at;
  return TRUE;
}

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision) {
  if (auto fault = Enter("InitializeSecurityDescriptor", {Ptr(descriptor), Num(revision)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!descriptor || revision != SECURITY_DESCRIPTOR_REVISION) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *static_cast<SECURITY_DESCRIPTOR*>(descriptor) = SECURITY_DESCRIPTOR{SECURITY_DESCRIPTOR_REVISION, 0, 0,
                                                                       nullptr, nullptr, nullptr, nullptr};
  return TRUE;
}

BOOL WINAPI SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner, BOOL defaulted) {
  if (auto fault = Enter("SetSecurityDescriptorOwner", {Ptr(descriptor), Ptr(owner), Num(defaulted)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!descriptor) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return FALSE;
  }
  static_cast<SECURITY_DESCRIPTOR*>(descriptor)->Owner = owner;
  return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl, BOOL defaulted) {
  if (auto fault = Enter("SetSecurityDescriptorDacl", {Ptr(descriptor), Num(present), Ptr(dacl), Num(defaulted)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!descriptor) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return FALSE;
  }
  auto* absolute = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
  absolute->Dacl = present ? dacl : nullptr;
  absolute->Control = static_cast<WORD>(present ? absolute->Control | SE_DACL_PRESENT
                                                : absolute->Control & ~SE_DACL_PRESENT);
  return TRUE;
}

BOOL WINAPI SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL mask,
                                         SECURITY_DESCRIPTOR_CONTROL bits) {
  if (auto fault = Enter("SetSecurityDescriptorControl", {Ptr(descriptor), Hex(mask), Hex(bits)})) {
    SetLastError(*fault);
    return FALSE;
  }
  // Only the protection flags may be set this way.
  if (!descriptor || (mask & ~SE_DACL_PROTECTED)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* absolute = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
  absolute->Control = static_cast<WORD>((absolute->Control & ~mask) | (bits & mask));
  return TRUE;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR moduleName) {
  if (auto fault = Enter("GetModuleHandleW", {internal::Text(moduleName)})) {
    SetLastError(*fault);
    return nullptr;
  }
  if (!moduleName) return internal::RunningModule();
  if (internal::EqualsNoCase(internal::Text(moduleName), "ntdll.dll")) return internal::Ntdll();
  if (!internal::EqualsNoCase(internal::Text(moduleName), "kernel32.dll")) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(&g_kernel32);
}

namespace fake_win32::internal {

bool IsKernel32(HMODULE module) { return module == reinterpret_cast<HMODULE>(&g_kernel32); }

// What GetProcAddress (library.cpp) hands out for kernel32.
FARPROC Kernel32Function(LPCSTR procName) {
  const std::string name = procName && !IS_INTRESOURCE(procName) ? procName : "";
  if (const FARPROC function = NamespaceFunction(name)) return function;
  if (!State().kernel32Functions.count(name)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  // Through void(*)(), the way to say that the change of type is meant.
  if (name == "GetTempPath2W") {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&internal::GetTempPath2W));
  }
  if (name == "SetProcessMitigationPolicy") {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&internal::SetProcessMitigationPolicy));
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

}  // namespace fake_win32::internal
