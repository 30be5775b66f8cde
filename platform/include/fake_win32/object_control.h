// Test control of named objects, private namespaces and the environment
// (host builds only; see control.h). SIDs are written as text
// ("S-1-5-32-544").
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fake_win32/api.h"

namespace fake_win32 {

// Who an object lets in: its owner ("" none) and its DACL (none when
// `daclPresent` is false: everybody), one entry per SID.
struct AccessEntry {
  std::string sid;
  DWORD mask;
  bool allow = true;
  bool operator==(const AccessEntry& other) const {
    return sid == other.sid && mask == other.mask && allow == other.allow;
  }
};
struct ObjectSecurity {
  std::string owner;
  bool daclPresent = true;
  std::vector<AccessEntry> dacl;
};

// A named object that another user's program made: of `type` ("Mutex",
// "Event", ...), with that owner and DACL. It stays while this process's
// handles to it come and go; SetMutexOwner (control.h) makes a mutex held.
void MakeNamedObject(const std::string& name, const std::string& type, const ObjectSecurity& security);
// The owner and DACL of the named object as it was made (empty owner and no
// DACL when there is none of that name). "Alias\Name" looks in the private
// namespace of that alias.
ObjectSecurity NamedObjectSecurity(const std::string& name);

// Which of kernel32's private-namespace functions GetProcAddress finds:
// all of them (Windows; after Reset), CreateBoundaryDescriptorW alone, a
// stand-in that makes nothing and leaves the last error as it was (Wine 8,
// whose other namespace functions end the process when imported), or none.
enum class PrivateNamespaces { kWindows, kWine8, kNone };
void SetPrivateNamespaces(PrivateNamespaces support);

// A private namespace as it is now: its boundary (the descriptor's name and
// SIDs) and who it lets in.
struct NamespaceFacts {
  bool exists = false;
  std::string boundaryName;
  std::vector<std::string> boundarySids;
  ObjectSecurity security;
};
NamespaceFacts PrivateNamespaceNow(const std::string& alias);
// Another setup run made the namespace `alias` (boundary `alias` holding
// Administrators; owner and DACL Administrators and the local system
// account) and keeps it open: CreatePrivateNamespaceW finds it, and
// OpenPrivateNamespaceW opens it.
void HoldPrivateNamespaceElsewhere(const std::string& alias);

// The machine's default environment that CreateEnvironmentBlock hands out
// without a token, "NAME=value" each (after Reset: SystemRoot, SystemDrive,
// Path, TEMP and a few more of C:\windows).
void SetMachineEnvironment(const std::vector<std::string>& variables);
// The environment block the last process was created with, "NAME=value"
// each; nullopt when it was given none (it inherits the caller's).
std::optional<std::vector<std::string>> LastProcessEnvironment();

}  // namespace fake_win32
