// What a screen reader learns of a window through the platform's
// accessibility interface (MSAA): each control's name, role and state as
// oleacc answers them, asked from the test's own process as a screen reader
// asks from its own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class AccessibleView {
public:
    struct Control {
        HWND hWnd = nullptr;
        std::string name;  // UTF-8; what is spoken
        long role = 0;
        long state = 0;
        RECT rect = {};  // on the screen
    };

    // Every visible control below the window, at any depth (a page's controls
    // inside the page), in the window's child order; containers (pages,
    // client areas) are walked into, not listed.
    static std::vector<Control> ControlsOf(HWND window);
    // One window's own answer; false when oleacc gives none.
    static bool Read(HWND hWnd, Control& control);
    // How many children oleacc reports below the window.
    static long ChildCount(HWND window);
    // The role as the platform names it ("push button"), for messages.
    static std::string RoleText(long role);
    // Whether a control must have a name to be understood: static controls
    // (texts, lines, pictures) are read as they are or passed over, and a
    // progress bar is spoken by its value.
    static bool NeedsName(const Control& control);
};
