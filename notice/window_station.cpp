#include "notice/window_station.h"

#include <windows.h>

namespace vantu {

bool WindowStationIsVisible() {
  // The handle belongs to the process and is not closed.
  HWINSTA station = GetProcessWindowStation();
  if (!station) return true;
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (!GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool RunsInSessionZero() {
  DWORD session = 0;
  return ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0;
}

}  // namespace vantu
