#include "program/switches.h"

namespace vantu {
namespace {

// `argument` is `name` after "/" or "-", ASCII letters in any case.
bool IsSwitch(const std::wstring& argument, const wchar_t* name) {
  if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) return false;
  size_t i = 1;
  for (; name[i - 1] != L'\0'; ++i) {
    if (i >= argument.size()) return false;
    wchar_t c = argument[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != name[i - 1]) return false;
  }
  return i == argument.size();
}

}  // namespace

const char kUsage[] =
    "Installs or updates the fan control service, when the board supports it and\r\n"
    "the version beside setup.exe (setup.ini) is newer than the one installed.\r\n"
    "\r\n"
    "setup.exe [/LOG[=path]] [/QUIET] [/?]\r\n"
    "\r\n"
    "  /LOG         writes a run log, UTF-8, to a new file in the temporary folder:\r\n"
    "               FanServiceSetup_YYYYMMDD_NNN.log\r\n"
    "  /LOG=path    writes the run log to that file\r\n"
    "  /QUIET       shows no message box; a setting that cannot be read is told\r\n"
    "               on standard error (and in the log). Where no one can see a\r\n"
    "               window (a service's or a deployment tool's session), that is\r\n"
    "               done without the switch too.\r\n"
    "  /?, /HELP    shows this text and does nothing else\r\n"
    "\r\n"
    "Exit codes (the run log names the outcome of the run):\r\n"
    "  0            installed or updated; nothing to do; or deployed without a\r\n"
    "               record (the service executable did not start, or the\r\n"
    "               registry record could not be written)\r\n"
    "  1618         another setup run held the machine for longer than 10\r\n"
    "               minutes; nothing was done (ERROR_INSTALL_ALREADY_RUNNING:\r\n"
    "               try again later)\r\n"
    "  -1           (0xFFFFFFFF) the board is not supported; the offered version\r\n"
    "               names no install folder; InstallPath, Execution or\r\n"
    "               RegistryKey leads out of its place; the install folder\r\n"
    "               cannot be resolved; the program folder cannot be opened;\r\n"
    "               setup.exe or setup.ini cannot be held; the payload could not\r\n"
    "               be copied; the seal is malformed, cannot be checked, or the\r\n"
    "               payload differs from it; the run guard could not be taken;\r\n"
    "               out of memory\r\n";

Switches ParseSwitches(const std::vector<std::wstring>& arguments) {
  Switches switches;
  switches.log = ParseLogSwitch(arguments);
  for (const std::wstring& argument : arguments) {
    if (IsSwitch(argument, L"quiet")) switches.quiet = true;
    if (IsSwitch(argument, L"?") || IsSwitch(argument, L"help")) switches.help = true;
  }
  return switches;
}

}  // namespace vantu
