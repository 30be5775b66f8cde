// Path texts as the setup handles them: UTF-16, the character `\` as the
// only separator, no access to the file system. Cutting at that character
// (never at a byte) keeps names in every language whole: in a double-byte
// ANSI code page the second byte of a character may be 0x5C.
#pragma once

#include <string>
#include <string_view>

namespace vantu {

// The text up to and including the first colon, or empty when there is none.
std::wstring DrivePart(const std::wstring& path);

// The text after the last backslash or colon; empty when the path holds
// neither, or when one of them is its last character.
std::wstring FileNamePart(const std::wstring& path);

// Whether two names are the same as text: character for character, the
// letters A to Z without regard to case. Any other difference, in other
// scripts' letters too, counts.
bool SameNameText(std::wstring_view a, std::wstring_view b);

// Whether two file names are one name to the file system: compared as
// NTFS compares them (CompareStringOrdinal, case ignored in every script).
// Where a folder keeps case (a case-sensitive folder, a share of a server
// that keeps it), two entries of the listing may be this one name.
bool SameFileName(std::wstring_view a, std::wstring_view b);

// Whether two paths name the same place as text: compared as SameNameText
// compares names, one trailing backslash on either side ignored
// (C:\Logs\ and c:\logs are the same). A caller that refuses what it
// cannot match errs on the safe side.
bool SamePathText(const std::wstring& a, const std::wstring& b);

// Whether `path` lies below `folder`: it starts with the folder's text (as
// SamePathText compares it), a backslash right after, and a name after
// that. Both are taken as given, already made absolute and normalised.
bool LiesBelowFolder(const std::wstring& path, const std::wstring& folder);

// A path as GetFinalPathNameByHandleW gives it, in the form the rest of the
// setup uses: \\?\C:\a becomes C:\a, \\?\UNC\server\share\a becomes
// \\server\share\a; any other text stays as it is.
std::wstring PathFromFinalPath(const std::wstring& finalPath);

// `folder` and `name` joined by one backslash (none added after a folder
// that ends in one already).
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

}  // namespace vantu
