// Whether every static text and push button of a dialog shows its whole text:
// the text measured with the control's own font (DrawText with DT_CALCRECT,
// wrapped where the control wraps) must fit inside the control.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One line per control whose text does not fit, naming the control, its text
// and both sizes; empty when all fit.
std::vector<std::string> TextsThatDoNotFit(HWND dialog);
