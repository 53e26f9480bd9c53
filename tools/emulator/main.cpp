// vkemulator: a Cellivanta VK played on a COM port.
//
//   vkemulator [--pair N] [--cells 40|80] [--script FILE]
//
// Plays the display on the display's end of test pair N (COM2N; the driver
// opens COM1N, or "usb" when registered). Without a script the keyboard is
// the display's keys.
#include "DisplayEmulator.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    SetConsoleOutputCP(CP_UTF8);  // the braille cells are shown as Unicode
    int pair = 1;
    int cells = 40;
    std::string script;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--pair")
            pair = atoi(argv[i + 1]);
        else if (option == "--cells")
            cells = atoi(argv[i + 1]);
        else if (option == "--script")
            script = argv[i + 1];
    }
    if (cells != 40 && cells != 80) {
        fprintf(stderr, "the display has 40 or 80 cells\n");
        return 2;
    }
    DisplayEmulator emulator(pair, static_cast<BYTE>(cells));
    if (!emulator.IsOpen()) {
        fprintf(stderr, "cannot open the display's port of pair %d\n", pair);
        return 1;
    }
    printf("display | a Cellivanta VK with %d cells on the display end of pair %d\n", cells, pair);
    fflush(stdout);
    if (!script.empty())
        return emulator.RunScript(script) ? 0 : 1;
    emulator.RunKeyboard();
    return 0;
}
