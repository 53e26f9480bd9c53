// The tools' texts: string tables in each program's resources, in English and
// in French, the language picked by Windows from the user's settings. The
// report for support is written in English whatever the user's language, so
// that support reads one form. Free of platform headers: the key map reader
// that uses it is also built natively.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>

namespace tooltext {

// The string `id` of the program's resources with %1, %2... replaced by the
// inserts, in UTF-8 (inserts in UTF-8, or else in the system's code page).
std::string Text(unsigned id, std::initializer_list<std::string> inserts = {});
// From now on every text in English (true), or in the user's language (false).
void UseEnglish(bool english);
// Writes UTF-8 text: to a console as its characters, elsewhere as UTF-8.
void Write(FILE* out, const std::string& text);
// Write, and a line end.
void Line(FILE* out, const std::string& text);

}  // namespace tooltext
