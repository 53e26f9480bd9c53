// One candidate port tried the way the driver opens the display: a look at
// whether anyone holds it, then the driver's own open and handshake.
#pragma once

#include <windows.h>

#include <string>

class PortProbe {
public:
    enum Outcome { Answered, NoAnswer, HeldByDriver, InUse, Missing, OpenFailed };
    struct Result {
        Outcome outcome = NoAnswer;
        int cells = 0;
        DWORD ms = 0;
        DWORD error = 0;  // OpenFailed: the system's error code
    };

    // keyMapFolder: where the driver would look for its key map.
    static Result Run(const std::string& port, const std::string& keyMapFolder);
    // One line for the user: "COM11: answered, 40 cells, in 230 ms".
    static std::string Describe(const std::string& port, const Result& result);

private:
    static bool LookFirst(const std::string& port, Result& result);
};
