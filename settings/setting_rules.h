// The rules that keep three settings of setup.ini inside their places.
// setup.exe runs with administrator rights from a folder that the user's own
// programs may write (Downloads, a temporary folder, a share), so setup.ini
// is input that may be hostile: InstallPath names where the payload goes
// and Execution what is run from there, RegistryKey where the record is
// written, and none may lead anywhere else.
// Pure functions of the UTF-16 text, character by character (in a
// double-byte code page a character's second byte may be 0x5C, which is no
// backslash).
#pragma once

#include <string>

namespace vantu {

// What InstallPath must be, for the log.
extern const char kInstallPathRule[];
// What Execution must be, for the log.
extern const char kExecutionRule[];
// What RegistryKey must be, for the log.
extern const char kRegistryKeyRule[];

// What makes `installPath` (as ReadInstallPath gives it: empty, or ending in
// one backslash that it may have added) lead out of the program-files
// folder, for the log; null when it keeps to its rule: a relative path below
// that folder, without a drive or colon, without a leading "\" or "/",
// and without a component of dots and blanks alone ("." and ".." among
// them, which Windows reads as this folder and the one above). Two
// separators in a row are read as one, as Windows reads them
// (WithoutEmptyComponents); one trailing backslash is fine, as vendors write
// it; so is an empty value, which puts the version folder directly below
// the program-files folder.
const char* InstallPathFault(const std::wstring& installPath);

// `path` with every run of separators ("\", "\/") cut to its first one.
std::wstring WithoutEmptyComponents(const std::wstring& path);

// What makes `registryKey` name a key outside HKEY_LOCAL_MACHINE\SOFTWARE,
// for the log; null when it keeps to its rule: "SOFTWARE" (in any case), a
// backslash and at least one name after it, that name none of Windows' own
// (Microsoft, Classes, Policies, Clients, RegisteredApplications,
// Wow6432Node: the Run key lies there, and COM's classes), no leading
// backslash and no empty component (one trailing backslash is fine). An empty value is no
// key at all, and no fault: the record is then left out.
const char* RegistryKeyFault(const std::wstring& registryKey);

// What makes `execution` more than one plain file name, for the log; null
// when it is one: no "\", "/" or ":", which would name another folder or a
// drive, no double quote, which would end the quoted path of the command
// line early, and not made of dots and blanks alone ("." and ".."). An
// empty value names nothing and leads nowhere: the launch then fails, as it
// always has.
const char* ExecutionFault(const std::wstring& execution);

// Logs that setting `key`, whose value is `value`, breaks `rule` by
// `fault`, and what the run does about it (`consequence`):
//   setting "InstallPath" = "..\Fan\" breaks its rule (...): it has a ...; nothing deployed
void LogBrokenRule(const char* key, const std::wstring& value, const char* rule, const char* fault,
                   const char* consequence);

}  // namespace vantu
