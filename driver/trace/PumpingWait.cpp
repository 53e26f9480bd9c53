#include "PumpingWait.h"

namespace {

// Dispatches what waits; true when a quit was among it (its code in quitCode).
bool DispatchWaiting(WPARAM& quitCode)
{
    bool quit = false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quit = true;
            quitCode = msg.wParam;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return quit;
}

}  // namespace

DWORD PumpingWait(DWORD count, const HANDLE* handles, DWORD waitMs)
{
    const DWORD start = GetTickCount();
    bool quit = false;
    WPARAM quitCode = 0;
    DWORD result = WAIT_TIMEOUT;
    for (DWORD waited = 0; waited <= waitMs; waited = GetTickCount() - start) {
        result = MsgWaitForMultipleObjects(count, handles, FALSE, waitMs - waited, QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + count)
            break;
        quit = DispatchWaiting(quitCode) || quit;
        result = WAIT_TIMEOUT;
    }
    if (quit)
        PostQuitMessage(static_cast<int>(quitCode));
    return result;
}
