#include "AccessibleView.h"

#include <commctrl.h>
#include <oleacc.h>

namespace {

// Defined here: with -static the import library's copy came out wrong.
const GUID kIID_IAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

std::string Utf8(const wchar_t* text)
{
    if (!text)
        return std::string();
    char buffer[2048] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr);
    return buffer;
}

IAccessible* ClientOf(HWND hWnd)
{
    IAccessible* accessible = nullptr;
    if (FAILED(AccessibleObjectFromWindow(hWnd, OBJID_CLIENT, kIID_IAccessible, reinterpret_cast<void**>(&accessible))))
        return nullptr;
    return accessible;
}

bool IsClass(HWND hWnd, const char* name)
{
    char className[32] = {};
    GetClassNameA(hWnd, className, sizeof(className));
    return lstrcmpiA(className, name) == 0;
}

bool IsContainer(long role)
{
    return role == ROLE_SYSTEM_CLIENT || role == ROLE_SYSTEM_PANE || role == ROLE_SYSTEM_DIALOG ||
           role == ROLE_SYSTEM_WINDOW || role == ROLE_SYSTEM_PROPERTYPAGE || role == ROLE_SYSTEM_GROUPING;
}

void Collect(HWND parent, std::vector<AccessibleView::Control>& controls)
{
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        AccessibleView::Control control;
        if (!IsWindowVisible(child))
            continue;
        if (!AccessibleView::Read(child, control)) {
            controls.push_back(control);  // no answer: listed without a role
            continue;
        }
        if (IsContainer(control.role) && GetWindow(child, GW_CHILD))
            Collect(child, controls);
        else
            controls.push_back(control);
    }
}

}  // namespace

bool AccessibleView::Read(HWND hWnd, Control& control)
{
    control.hWnd = hWnd;
    GetWindowRect(hWnd, &control.rect);
    IAccessible* accessible = ClientOf(hWnd);
    if (!accessible)
        return false;
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    if (accessible->get_accName(self, &name) == S_OK) {
        control.name = Utf8(name);
        SysFreeString(name);
    }
    VARIANT value;
    VariantInit(&value);
    if (accessible->get_accRole(self, &value) == S_OK && value.vt == VT_I4)
        control.role = value.lVal;
    VariantClear(&value);
    if (accessible->get_accState(self, &value) == S_OK && value.vt == VT_I4)
        control.state = value.lVal;
    VariantClear(&value);
    accessible->Release();
    return control.role != 0;
}

std::vector<AccessibleView::Control> AccessibleView::ControlsOf(HWND window)
{
    std::vector<Control> controls;
    Collect(window, controls);
    return controls;
}

long AccessibleView::ChildCount(HWND window)
{
    IAccessible* accessible = ClientOf(window);
    long count = -1;
    if (accessible) {
        accessible->get_accChildCount(&count);
        accessible->Release();
    }
    return count;
}

std::string AccessibleView::RoleText(long role)
{
    char text[64] = {};
    GetRoleTextA(static_cast<DWORD>(role), text, sizeof(text));
    return text[0] ? text : "role " + std::to_string(role);
}

bool AccessibleView::NeedsName(const Control& control)
{
    return !IsClass(control.hWnd, "Static") && !IsClass(control.hWnd, PROGRESS_CLASSA) &&
           !(control.state & STATE_SYSTEM_INVISIBLE);
}
