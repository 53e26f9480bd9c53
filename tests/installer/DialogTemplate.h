// An extended dialog template (DLGTEMPLATEEX) read back from a module's
// resources, so tests can compare what was built with what the dialog must be.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct DialogTemplate {
    struct Control {
        DWORD id;
        WORD classAtom;  // 0x80 button, 0x82 static
        std::string text;  // UTF-8
        RECT rect;         // x, y, x + cx, y + cy in dialog units
        DWORD style;
        DWORD exStyle;
    };

    DWORD style = 0;
    DWORD exStyle = 0;
    RECT rect = {};
    std::string caption;
    WORD pointSize = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::string typeface;
    std::vector<Control> controls;

    // Reads template id in exactly this language; false when it is not there
    // or is not an extended template.
    bool Load(HMODULE module, WORD id, LANGID language);
};
