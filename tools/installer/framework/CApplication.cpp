#include "CApplication.h"

namespace {

CApplication* g_application = nullptr;

}  // namespace

CApplication::CApplication() : m_pMainWnd(nullptr)
{
    g_application = this;
}

CApplication::~CApplication()
{
    if (g_application == this)
        g_application = nullptr;
}

BOOL CApplication::InitInstance()
{
    return TRUE;
}

int CApplication::ExitInstance()
{
    return 0;
}

CApplication* CApplication::Current()
{
    return g_application;
}

HINSTANCE CApplication::ResourceHandle()
{
    return GetModuleHandleA(nullptr);
}

void CApplication::SetRegistryKey(const char* key)
{
    m_registryKey = key;
}

void CApplication::OnHelp() {}

int CApplication::RunApplication()
{
    CApplication* application = Current();
    if (!application)
        return 1;
    if (application->InitInstance()) {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return application->ExitInstance();
}
