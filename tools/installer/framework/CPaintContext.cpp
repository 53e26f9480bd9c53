#include "CPaintContext.h"

CPaintContext::CPaintContext(HWND hWnd) : m_hWnd(hWnd), m_paint(), m_hDC(BeginPaint(hWnd, &m_paint)) {}

CPaintContext::~CPaintContext()
{
    EndPaint(m_hWnd, &m_paint);
}
