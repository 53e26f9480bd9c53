// A Cellivanta VK played on a COM port: shows what the driver writes and
// sends the keys it is given, from the keyboard or from a script.
#pragma once

#include "DisplaySimulator.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

class DisplayEmulator {
public:
    DisplayEmulator(int pair, BYTE cells);
    ~DisplayEmulator();
    bool IsOpen() const { return m_display.IsOpen(); }

    bool RunScript(const std::string& path);
    void RunKeyboard();

private:
    bool RunScriptLine(const std::string& line);
    void PressChord(const std::vector<BYTE>& codes);
    void Type(const std::string& text);
    bool AwaitHandshake(DWORD timeoutMs);
    void WatchLine();
    void ShowLine(const std::vector<BYTE>& cells);
    void Note(const std::string& text);
    void PlugCable(bool in);

    DisplaySimulator m_display;
    std::atomic<bool> m_running{true};
    bool m_bUnplugged = false;
    std::thread m_watcher;
};
