// What the setup and its uninstaller do to files beyond copying them: the
// SHA-256 by which a key map is known as one the setup shipped, and taking
// the setup's own new files out of the renames Windows does at its next
// start.
#pragma once

#include <string>

// The SHA-256 of the file as 64 lower-case hexadecimal digits; false when it
// cannot be read, or is larger than any key map (1 MB).
bool HashFile(const std::wstring& path, std::wstring& hex);

// Takes out of the renames Windows does at its next start those whose file
// is folder\name for one of names ("|" after each): what an install left to
// be moved in place at a restart. Other programs' renames stay. The number
// taken out, or -1 when the renames could not be written back.
int CancelRenames(const std::wstring& folder, const std::wstring& names);
