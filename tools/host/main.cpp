// vkhost: the screen reader's side of VK.JLB, for trying the driver by hand.
//
//   vkhost [--driver PATH] COMMAND [ARG] COMMAND [ARG] ...
//
// Commands run in order on the thread that opens the driver:
//   info                  what the driver answers about itself
//   open PORT             Open on a COM port or "usb"
//   show TEXT             ShowText with TEXT in 8-dot computer braille
//   status TEXT | clear | sleep | wake | close
//   wait MS               run the message loop for MS milliseconds (keys arrive here)
//   say TEXT              print TEXT
#include "ScreenReaderHost.h"

#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    SetConsoleOutputCP(CP_UTF8);  // the braille cells are shown as Unicode
    std::string driverPath = "VK.JLB";
    const std::set<std::string> withArgument = {"open", "show", "status", "wait", "say"};
    std::vector<std::vector<std::string>> script;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--driver" && i + 1 < argc) {
            driverPath = argv[++i];
            continue;
        }
        std::vector<std::string> command{word};
        if (withArgument.count(word) && i + 1 < argc)
            command.push_back(argv[++i]);
        script.push_back(command);
    }
    if (script.empty()) {
        fprintf(stderr, "usage: vkhost [--driver PATH] info | open PORT | show TEXT | clear | sleep | wake | "
                        "close | wait MS ...\n");
        return 2;
    }
    ScreenReaderHost host;
    if (!host.Load(driverPath))
        return 1;
    for (const auto& command : script)
        if (!host.Run(command))
            return 1;
    return 0;
}
