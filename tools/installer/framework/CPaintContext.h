// The device context of one WM_PAINT: painting begins with the object and ends
// with it, so the update region is validated on every path.
#pragma once

#include <windows.h>

class CPaintContext {
public:
    explicit CPaintContext(HWND hWnd);
    ~CPaintContext();
    CPaintContext(const CPaintContext&) = delete;
    CPaintContext& operator=(const CPaintContext&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }

private:
    HWND m_hWnd;
    PAINTSTRUCT m_paint;
    HDC m_hDC;
};
