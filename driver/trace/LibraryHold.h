// The library's hold on itself. Every thread the driver starts holds VK.JLB
// loaded until its last instruction, so that a screen reader that unloads the
// driver (with or without Close) never leaves one of them running in code
// that is gone: the thread's starter takes the hold, and the thread ends by
// releasing it as it exits. A window whose procedure lies here and that could
// not be destroyed pins the library for the life of the process.
#pragma once

#include <windows.h>

class LibraryHold {
public:
    // One more reference to this library; false when none could be taken.
    static bool Take();
    // Gives back a reference taken for a thread that did not start.
    static void Give();
    // Gives back the thread's reference and ends the thread.
    [[noreturn]] static void EndThread(DWORD exitCode);
    // Keeps the library loaded until the process ends.
    static void Pin();
};
