// Named objects: mutexes (and objects of other types that other programs
// made under a name), their owners and DACLs, and the private namespaces a
// name may lie in, with their boundary descriptors.
#include <cstring>
#include <map>
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
using internal::Text;

struct NamedObject {
  std::string name;  // UTF-8, empty for an unnamed one
  std::string type = "Mutex";
  int handles = 0;           // this process's open handles to it
  bool ownedHere = false;    // owned by this process's thread
  bool madeElsewhere = false;  // by another program: stays without handles here
  OtherOwner other = OtherOwner::kNone;
  internal::Security security;
};

struct Boundary {
  std::string name;
  std::vector<std::string> sids;
};

struct Namespace {
  std::string alias;
  Boundary boundary;
  internal::Security security;
  int handles = 0;            // this process's
  bool heldElsewhere = false;  // another process keeps it open
};

struct ObjectState {
  PrivateNamespaces support = PrivateNamespaces::kWindows;
  std::map<std::string, NamedObject> objects;       // by key
  std::map<uintptr_t, std::string> mutexHandles;    // handle -> key
  std::map<uintptr_t, Boundary> boundaries;         // handle -> descriptor
  std::map<std::string, Namespace> namespaces;      // by key
  std::map<uintptr_t, std::string> namespaceHandles;  // handle -> key
  std::map<uintptr_t, std::string> descriptors;     // GetSecurityInfo's allocations
  ULONGLONG tickStep = 0;
};

ObjectState& State() {
  static ObjectState state;
  return state;
}

std::string Upper(const std::string& text) {
  std::string upper;
  for (const char c : text) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return upper;
}

// A namespace is told by its alias and its boundary.
std::string NamespaceKey(const std::string& alias, const Boundary& boundary) {
  std::string key = Upper(alias) + "|" + boundary.name;
  for (const std::string& sid : boundary.sids) key += "|" + internal::TextOfSid(sid.data());
  return key;
}

// The key of a name: "Alias\Name" in a namespace of that alias (one this
// process has open, or, for the control functions, any); Global\ and
// Local\ names and names without a backslash as they are. Empty for a
// prefix that names nothing.
std::string ObjectKey(const std::string& name, bool openHereOnly) {
  const size_t slash = name.find('\\');
  if (slash == std::string::npos) return Upper(name);
  const std::string prefix = Upper(name.substr(0, slash));
  if (prefix == "GLOBAL" || prefix == "LOCAL") return Upper(name);
  for (const auto& [key, space] : State().namespaces) {
    if (Upper(space.alias) == prefix && (space.handles > 0 || !openHereOnly)) {
      return "@" + key + "\\" + Upper(name.substr(slash + 1));
    }
  }
  return "";
}

ObjectSecurity Readable(const internal::Security& security) {
  ObjectSecurity readable;
  readable.owner = security.owner.empty() ? "" : internal::TextOfSid(security.owner.data());
  readable.daclPresent = security.daclPresent;
  if (security.daclPresent) readable.dacl = internal::EntriesOfAcl(security.acl.data());
  return readable;
}

internal::Security Written(const ObjectSecurity& readable) {
  internal::Security security;
  security.owner = readable.owner.empty() ? "" : internal::SidFromText(readable.owner);
  security.daclPresent = readable.daclPresent;
  if (readable.daclPresent) security.acl = internal::AclFromEntries(readable.dacl);
  return security;
}

const SECURITY_DESCRIPTOR* DescriptorOf(LPSECURITY_ATTRIBUTES attributes) {
  return attributes ? static_cast<const SECURITY_DESCRIPTOR*>(attributes->lpSecurityDescriptor) : nullptr;
}

const Boundary* BoundaryOf(LPVOID handle) {
  const auto found = State().boundaries.find(reinterpret_cast<uintptr_t>(handle));
  return found == State().boundaries.end() ? nullptr : &found->second;
}

HANDLE OpenNamespace(const std::string& key) {
  const uintptr_t value = internal::NewHandleValue();
  ++State().namespaces[key].handles;
  State().namespaceHandles[value] = key;
  HANDLE handle = reinterpret_cast<HANDLE>(value);
  internal::Opened("namespace", handle);
  return handle;
}

}  // namespace

namespace internal {

void ResetObjects() {
  auto& state = State();
  state = ObjectState{};
}

std::optional<DWORD> WaitForMutex(HANDLE handle, DWORD milliseconds) {
  auto& state = State();
  const auto found = state.mutexHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == state.mutexHandles.end()) return std::nullopt;
  NamedObject& mutex = state.objects[found->second];
  switch (mutex.other) {
    case OtherOwner::kHolds:
      // Held by another process for longer than anyone waits.
      AdvanceTicks(milliseconds == INFINITE ? 0 : milliseconds);
      return WAIT_TIMEOUT;
    case OtherOwner::kEnded:
      mutex.other = OtherOwner::kNone;
      mutex.ownedHere = true;
      return WAIT_ABANDONED;
    case OtherOwner::kReleasesAfter:
      // Lets go `tickStep` after the first wait began.
      if (milliseconds != INFINITE && milliseconds < state.tickStep) {
        AdvanceTicks(milliseconds);
        state.tickStep -= milliseconds;
        return WAIT_TIMEOUT;
      }
      mutex.other = OtherOwner::kNone;
      mutex.ownedHere = true;
      AdvanceTicks(state.tickStep);
      return WAIT_OBJECT_0;
    case OtherOwner::kNone:
      break;
  }
  mutex.ownedHere = true;
  return WAIT_OBJECT_0;
}

bool CloseMutex(HANDLE handle) {
  auto& state = State();
  const auto found = state.mutexHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == state.mutexHandles.end()) return false;
  NamedObject& mutex = state.objects[found->second];
  if (--mutex.handles == 0 && mutex.other == OtherOwner::kNone && !mutex.madeElsewhere) {
    state.objects.erase(found->second);
  }
  state.mutexHandles.erase(found);
  Closed("mutex", handle);
  return true;
}

}  // namespace internal

void SetMutexOwner(const std::string& name, OtherOwner owner, ULONGLONG waitedMs) {
  auto& state = State();
  NamedObject& mutex = state.objects[ObjectKey(name, false)];
  // Another setup run's, unless another program made it (MakeNamedObject).
  if (!mutex.madeElsewhere && mutex.handles == 0) internal::SecurityToMake(nullptr, &mutex.security);
  mutex.name = name;
  mutex.other = owner;
  state.tickStep = waitedMs;
}

bool MutexOwnedHere(const std::string& name) {
  const auto found = State().objects.find(ObjectKey(name, false));
  return found != State().objects.end() && found->second.ownedHere;
}

void MakeNamedObject(const std::string& name, const std::string& type, const ObjectSecurity& security) {
  NamedObject& object = State().objects[ObjectKey(name, false)];
  object.name = name;
  object.type = type;
  object.madeElsewhere = true;
  object.security = Written(security);
}

ObjectSecurity NamedObjectSecurity(const std::string& name) {
  const auto found = State().objects.find(ObjectKey(name, false));
  if (found == State().objects.end()) return ObjectSecurity{"", false, {}};
  return Readable(found->second.security);
}

void SetPrivateNamespaces(PrivateNamespaces support) { State().support = support; }

NamespaceFacts PrivateNamespaceNow(const std::string& alias) {
  NamespaceFacts facts;
  for (const auto& [key, space] : State().namespaces) {
    if (Upper(space.alias) != Upper(alias)) continue;
    facts.exists = true;
    facts.boundaryName = space.boundary.name;
    for (const std::string& sid : space.boundary.sids) facts.boundarySids.push_back(internal::TextOfSid(sid.data()));
    facts.security = Readable(space.security);
  }
  return facts;
}

void HoldPrivateNamespaceElsewhere(const std::string& alias) {
  const Boundary boundary{alias, {internal::SidFromText("S-1-5-32-544")}};
  Namespace& space = State().namespaces[NamespaceKey(alias, boundary)];
  space.alias = alias;
  space.boundary = boundary;
  space.heldElsewhere = true;
  space.security = Written(ObjectSecurity{
      "S-1-5-32-544", true, {{"S-1-5-32-544", GENERIC_ALL, true}, {"S-1-5-18", GENERIC_ALL, true}}});
}

}  // namespace fake_win32

using namespace fake_win32;

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCWSTR name) {
  if (auto fault = Enter("CreateMutexW", {Ptr(security), Num(initialOwner), Text(name)})) {
    SetLastError(*fault);
    return nullptr;
  }
  auto& state = State();
  const uintptr_t value = internal::NewHandleValue();
  const std::string key = name ? ObjectKey(Text(name), true) : "#" + std::to_string(value);
  if (key.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  const auto found = state.objects.find(key);
  const bool existed = found != state.objects.end() &&
                       (found->second.handles > 0 || found->second.other != OtherOwner::kNone ||
                        found->second.madeElsewhere);
  if (existed && found->second.type != "Mutex") {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (existed && !internal::Grants(found->second.security, MUTEX_ALL_ACCESS)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  internal::Security made;
  if (!existed && !internal::SecurityToMake(DescriptorOf(security), &made)) return nullptr;
  NamedObject& mutex = state.objects[key];
  if (!existed) mutex.security = made;
  mutex.name = name ? Text(name) : std::string();
  ++mutex.handles;
  if (initialOwner && !existed) mutex.ownedHere = true;
  state.mutexHandles[value] = key;
  HANDLE handle = reinterpret_cast<HANDLE>(value);
  internal::Opened("mutex", handle);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI ReleaseMutex(HANDLE handle) {
  auto fault = Enter("ReleaseMutex", {Ptr(handle)});
  auto& state = State();
  const auto found = state.mutexHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == state.mutexHandles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  NamedObject& mutex = state.objects[found->second];
  if (!mutex.ownedHere) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  mutex.ownedHere = false;
  if (fault) {
    SetLastError(*fault);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID* owner,
                             PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  if (auto fault = Enter("GetSecurityInfo", {Ptr(object), Num(type), Hex(information)})) return *fault;
  auto& state = State();
  const auto found = state.mutexHandles.find(reinterpret_cast<uintptr_t>(object));
  if (type != SE_KERNEL_OBJECT || found == state.mutexHandles.end()) return ERROR_INVALID_HANDLE;
  if (!descriptor || group || sacl) return ERROR_INVALID_PARAMETER;
  // Owner, then DACL, in one allocation, as the system hands them out.
  const internal::Security& security = state.objects[found->second].security;
  std::string bytes = security.owner + security.acl;
  char* memory = new char[bytes.size() + 1];
  std::memcpy(memory, bytes.data(), bytes.size());
  state.descriptors[reinterpret_cast<uintptr_t>(memory)] = bytes;
  internal::Opened("local memory", memory);
  *descriptor = memory;
  if (owner) *owner = (information & OWNER_SECURITY_INFORMATION) && !security.owner.empty() ? memory : nullptr;
  if (dacl) {
    *dacl = (information & DACL_SECURITY_INFORMATION) && security.daclPresent
                ? reinterpret_cast<PACL>(memory + security.owner.size())
                : nullptr;
  }
  return ERROR_SUCCESS;
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
  internal::Record("LocalFree", {Ptr(memory)});
  if (!memory) return nullptr;
  if (!State().descriptors.erase(reinterpret_cast<uintptr_t>(memory))) {
    internal::Misuse("LocalFree of memory that was not handed out: " + Ptr(memory));
    return memory;
  }
  internal::Closed("local memory", memory);
  delete[] static_cast<char*>(memory);
  return nullptr;
}

namespace fake_win32::internal {
namespace {

HANDLE WINAPI CreateBoundaryDescriptorW(LPCWSTR name, ULONG flags) {
  if (auto fault = Enter("CreateBoundaryDescriptorW", {Text(name), Hex(flags)})) {
    SetLastError(*fault);
    return nullptr;
  }
  // Wine's stand-in: nothing made, nothing said.
  if (State().support == PrivateNamespaces::kWine8) return nullptr;
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const uintptr_t value = NewHandleValue();
  State().boundaries[value] = Boundary{Text(name), {}};
  HANDLE handle = reinterpret_cast<HANDLE>(value);
  Opened("boundary", handle);
  return handle;
}

// Adds the SID to a descriptor that moves, as Windows' may.
BOOL WINAPI AddSIDToBoundaryDescriptor(HANDLE* boundary, PSID sid) {
  if (auto fault = Enter("AddSIDToBoundaryDescriptor", {Ptr(boundary ? *boundary : nullptr), Ptr(sid)})) {
    SetLastError(*fault);
    return FALSE;
  }
  const Boundary* old = boundary ? BoundaryOf(*boundary) : nullptr;
  if (!old || !sid) {
    Misuse("AddSIDToBoundaryDescriptor without a boundary descriptor (under Wine the process ends)");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Boundary moved = *old;
  moved.sids.emplace_back(static_cast<const char*>(sid), SidSize(sid));
  State().boundaries.erase(reinterpret_cast<uintptr_t>(*boundary));
  Closed("boundary", *boundary);
  const uintptr_t value = NewHandleValue();
  State().boundaries[value] = moved;
  *boundary = reinterpret_cast<HANDLE>(value);
  Opened("boundary", *boundary);
  return TRUE;
}

void WINAPI DeleteBoundaryDescriptor(HANDLE boundary) {
  Record("DeleteBoundaryDescriptor", {Ptr(boundary)});
  if (State().boundaries.erase(reinterpret_cast<uintptr_t>(boundary))) {
    Closed("boundary", boundary);
  } else {
    Misuse("DeleteBoundaryDescriptor of a descriptor that is not there: " + Ptr(boundary));
  }
}

// Made by a process inside the boundary (its token holds every SID of it),
// with the descriptor given.
HANDLE WINAPI CreatePrivateNamespaceW(LPSECURITY_ATTRIBUTES attributes, LPVOID boundary, LPCWSTR alias) {
  if (auto fault = Enter("CreatePrivateNamespaceW", {Ptr(attributes), Ptr(boundary), Text(alias)})) {
    SetLastError(*fault);
    return nullptr;
  }
  const Boundary* within = BoundaryOf(boundary);
  if (!within || !alias || within->sids.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  for (const std::string& sid : within->sids) {
    if (!TokenHolds(sid)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  }
  const std::string key = NamespaceKey(Text(alias), *within);
  if (State().namespaces.count(key)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return nullptr;
  }
  Namespace space;
  space.alias = Text(alias);
  space.boundary = *within;
  if (!SecurityToMake(DescriptorOf(attributes), &space.security)) return nullptr;
  State().namespaces[key] = space;
  return OpenNamespace(key);
}

// Opened when its DACL lets the token in.
HANDLE WINAPI OpenPrivateNamespaceW(LPVOID boundary, LPCWSTR alias) {
  if (auto fault = Enter("OpenPrivateNamespaceW", {Ptr(boundary), Text(alias)})) {
    SetLastError(*fault);
    return nullptr;
  }
  const Boundary* within = BoundaryOf(boundary);
  if (!within || !alias) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string key = NamespaceKey(Text(alias), *within);
  const auto found = State().namespaces.find(key);
  if (found == State().namespaces.end()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  if (!Grants(found->second.security, GENERIC_ALL)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return OpenNamespace(key);
}

// The namespace goes when no process has it open any more.
BOOLEAN WINAPI ClosePrivateNamespace(HANDLE handle, ULONG flags) {
  auto fault = Enter("ClosePrivateNamespace", {Ptr(handle), Hex(flags)});
  const auto found = State().namespaceHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == State().namespaceHandles.end()) {
    Misuse("ClosePrivateNamespace of a handle that is not open: " + Ptr(handle));
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Namespace& space = State().namespaces[found->second];
  if (--space.handles == 0 && !space.heldElsewhere) State().namespaces.erase(found->second);
  State().namespaceHandles.erase(found);
  Closed("namespace", handle);
  if (fault) {
    SetLastError(*fault);
    return FALSE;
  }
  return TRUE;
}

template <typename Function>
FARPROC Address(Function* function) {
  // Through void(*)(): the change of function type is meant.
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

FARPROC NamespaceFunction(const std::string& name) {
  const PrivateNamespaces support = State().support;
  if (support == PrivateNamespaces::kNone) return nullptr;
  if (name == "CreateBoundaryDescriptorW") return Address(&CreateBoundaryDescriptorW);
  if (support == PrivateNamespaces::kWine8) return nullptr;
  if (name == "AddSIDToBoundaryDescriptor") return Address(&AddSIDToBoundaryDescriptor);
  if (name == "DeleteBoundaryDescriptor") return Address(&DeleteBoundaryDescriptor);
  if (name == "CreatePrivateNamespaceW") return Address(&CreatePrivateNamespaceW);
  if (name == "OpenPrivateNamespaceW") return Address(&OpenPrivateNamespaceW);
  if (name == "ClosePrivateNamespace") return Address(&ClosePrivateNamespace);
  return nullptr;
}

}  // namespace fake_win32::internal
