// Host builds only: the Win32 subset of this project, see fake_win32/api.h.
#pragma once
#include "fake_win32/security_api.h"
