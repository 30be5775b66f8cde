// The settings of the setup: section "Common" of setup.ini, read from the
// file that the run took at its start (settings_file.h). Nothing is cached:
// every reader reads the file afresh, and on a miss tells the user (a
// message box, or where nobody can see one a line on standard error:
// notice/notice.h) and hands back the empty string. Values, like the paths,
// are UTF-16.
#pragma once

#include <string>

#include "settings/settings_file.h"

namespace vantu {

// The default that every reader passes with its key: "error737". What the
// profile service returns does not tell a missing file, section or key from
// a value (each of them simply yields the default), so a value equal to this
// text, character for character, is how a reader knows its key is missing.
// The text is fixed on purpose: a setup.ini value spelled exactly "error737"
// is read as missing too, with the message, while "Error737" is an ordinary
// value.
extern const wchar_t kMissMarker[];
// Caption of every message box of the setup.
extern const char kMessageCaption[];

std::wstring ReadServiceName(const SettingsFile& file);
// Ends in a backslash unless empty.
std::wstring ReadInstallPath(const SettingsFile& file);
std::wstring ReadRegistryKey(const SettingsFile& file);
std::wstring ReadExecution(const SettingsFile& file);
std::wstring ReadSetupVersion(const SettingsFile& file);

// "Execution" as ReadExecution would read it now, without its message or
// its log line: a look ahead, so that the run can refuse a value before it
// deploys anything. Empty when the setting cannot be read (ReadExecution
// tells the user when it is really used).
std::wstring PeekExecution(const SettingsFile& file);

}  // namespace vantu
