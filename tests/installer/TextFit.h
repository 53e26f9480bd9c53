// Whether every static text and push button of a dialog shows its whole text:
// the text measured with the control's own font (DrawText with DT_CALCRECT,
// wrapped where the control wraps) must fit inside the control.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One line per control whose text does not fit, naming the control, its text
// and both sizes; empty when all fit. A window of another process is measured
// with `font` (its own font handle means nothing here).
std::vector<std::string> TextsThatDoNotFit(HWND dialog, HFONT font = nullptr);

// Wine takes the system DPI from "HKCU\Control Panel\Desktop" LogPixels when a
// process starts: a large setting is checked by the test program run again.
// The DPI this process was started to check at (96 by default):
int CheckedDpi();
// This program run again with only the tests of `filter`, the prefix set to
// `dpi` meanwhile; its exit code, and its output in `output`.
int RunAtDpi(int dpi, const std::string& filter, std::string& output);
