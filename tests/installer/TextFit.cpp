#include "TextFit.h"

#include "TestEnv.h"

#include <cstdlib>

namespace {

// What a push button keeps around its text: its frame and the focus
// rectangle inside it.
const int kButtonMarginX = 4;
const int kButtonMarginY = 2;

std::string ClassOf(HWND control)
{
    char name[32] = {};
    GetClassNameA(control, name, sizeof(name));
    return name;
}

std::string TextOf(HWND control)
{
    char text[1024] = {};
    GetWindowTextA(control, text, sizeof(text));
    return text;
}

// The DrawText flags the control draws its text with; false for controls
// that show no text of this kind (frames, lines, pictures, check boxes).
bool DrawFlags(HWND control, UINT& flags, RECT& room)
{
    const std::string className = ClassOf(control);
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    GetClientRect(control, &room);
    if (lstrcmpiA(className.c_str(), "Static") == 0) {
        const LONG type = style & SS_TYPEMASK;
        if (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT)
            flags = DT_WORDBREAK | DT_EXPANDTABS;
        else if (type == SS_LEFTNOWORDWRAP || type == SS_SIMPLE)
            flags = DT_SINGLELINE | DT_EXPANDTABS;
        else
            return false;
        if (style & SS_NOPREFIX)
            flags |= DT_NOPREFIX;
        return true;
    }
    if (lstrcmpiA(className.c_str(), "Button") == 0) {
        const LONG type = style & BS_TYPEMASK;
        if (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON)
            return false;
        flags = (style & BS_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE;
        InflateRect(&room, -kButtonMarginX, -kButtonMarginY);
        return true;
    }
    return false;
}

const char kDpiVariable[] = "VKTEST_DPI";

// The prefix's DPI setting for the processes started while it lives.
class ScopedLogPixels {
public:
    explicit ScopedLogPixels(DWORD dpi)
    {
        RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        &m_key, nullptr);
        DWORD size = sizeof(m_old);
        m_hadOld = RegQueryValueExA(m_key, "LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&m_old), &size) ==
                   ERROR_SUCCESS;
        RegSetValueExA(m_key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof(dpi));
    }
    ~ScopedLogPixels()
    {
        if (m_hadOld)
            RegSetValueExA(m_key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&m_old), sizeof(m_old));
        else
            RegDeleteValueA(m_key, "LogPixels");
        RegCloseKey(m_key);
    }

private:
    HKEY m_key = nullptr;
    DWORD m_old = 0;
    bool m_hadOld = false;
};

}  // namespace

int CheckedDpi()
{
    char value[16] = {};
    return GetEnvironmentVariableA(kDpiVariable, value, sizeof(value)) ? atoi(value) : USER_DEFAULT_SCREEN_DPI;
}

int RunAtDpi(int dpi, const std::string& filter, std::string& output)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof(self));
    ScopedLogPixels setting(dpi);
    SetEnvironmentVariableA(kDpiVariable, std::to_string(dpi).c_str());
    const int code = testenv::RunProgram(std::string("\"") + self + "\" --gtest_filter=" + filter, output, 120000);
    SetEnvironmentVariableA(kDpiVariable, nullptr);
    return code;
}

std::vector<std::string> TextsThatDoNotFit(HWND dialog, HFONT font)
{
    std::vector<std::string> problems;
    for (HWND control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
        const std::string text = TextOf(control);
        UINT flags = 0;
        RECT room = {};
        if (text.empty() || !DrawFlags(control, flags, room))
            continue;
        HDC dc = GetDC(control);
        HGDIOBJ old = SelectObject(dc, font ? font : reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
        RECT needed = {0, 0, room.right - room.left, 0};
        DrawTextA(dc, text.c_str(), -1, &needed, flags | DT_CALCRECT);
        SelectObject(dc, old);
        ReleaseDC(control, dc);
        const int width = room.right - room.left;
        const int height = room.bottom - room.top;
        if (needed.right - needed.left > width || needed.bottom - needed.top > height)
            problems.push_back("\"" + text + "\" needs " + std::to_string(needed.right - needed.left) + "x" +
                               std::to_string(needed.bottom - needed.top) + " px, has " + std::to_string(width) +
                               "x" + std::to_string(height));
    }
    return problems;
}
