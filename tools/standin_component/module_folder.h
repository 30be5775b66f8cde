// Where the stand-in keeps its files: the folder of its own executable.
#pragma once

#include <windows.h>

#include <string>

namespace standin {

// Full path of the running executable.
std::wstring ExecutablePath();

// The folder of the running executable, ending in a backslash.
std::wstring ExecutableFolder();

// `text` converted to the ANSI code page, for the profile functions.
std::string ToAnsi(const std::wstring& text);

// `text` converted to UTF-8, for the log.
std::string ToUtf8(const wchar_t* text, size_t length);
std::string ToUtf8(const std::wstring& text);

}  // namespace standin
