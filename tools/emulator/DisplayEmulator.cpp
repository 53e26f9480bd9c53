#include "DisplayEmulator.h"
#include "ComputerBraille.h"
#include "KeyScript.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {
const DWORD kKeyGapMs = 30;  // between the frames of one chord, as fingers would
}

DisplayEmulator::DisplayEmulator(int pair, BYTE cells) : m_display(pair)
{
    m_display.SetInitResponse(0, 0, cells);
    m_watcher = std::thread([this] { WatchLine(); });
}

DisplayEmulator::~DisplayEmulator()
{
    m_running = false;
    m_watcher.join();
}

// UTF-8 text; a console is given it as UTF-16 so that the braille shows.
void DisplayEmulator::Note(const std::string& text)
{
    const std::string line = "display | " + text + "\n";
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(out, &mode)) {
        fwrite(line.data(), 1, line.size(), stdout);
        fflush(stdout);
        return;
    }
    std::wstring wide(line.size(), L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &wide[0],
                                           static_cast<int>(wide.size()));
    DWORD written = 0;
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(length), &written, nullptr);
}

// Prints every new line of cells the driver writes, as braille and as text.
void DisplayEmulator::WatchLine()
{
    size_t seen = 0;
    while (m_running) {
        const auto frames = m_display.Frames();
        for (; seen < frames.size(); ++seen) {
            if (frames[seen].id == 0)
                Note("handshake: the driver asks for the cell count");
            else if (frames[seen].id == 2)
                ShowLine(frames[seen].payload);
        }
        Sleep(20);
    }
}

void DisplayEmulator::ShowLine(const std::vector<BYTE>& cells)
{
    std::string raw(cells.begin(), cells.end());
    std::string text;
    for (BYTE cell : cells) {
        const char c = ComputerBraille::DotsToChar(cell);
        text += c >= 0x20 ? c : '?';
    }
    Note("shows  " + ComputerBraille::CellsToUnicode(raw));
    Note("reads  " + text);
}

void DisplayEmulator::PressChord(const std::vector<BYTE>& codes)
{
    for (BYTE code : codes) {
        m_display.KeyDown(code);
        Sleep(kKeyGapMs);
    }
    for (BYTE code : codes) {
        m_display.KeyUp(code);
        Sleep(kKeyGapMs);
    }
}

void DisplayEmulator::Type(const std::string& text)
{
    for (char c : text)
        PressChord(KeyScript::ChordOfCharacter(c));
}

bool DisplayEmulator::AwaitHandshake(DWORD timeoutMs)
{
    const DWORD end = GetTickCount() + timeoutMs;
    for (;;) {
        for (const auto& frame : m_display.Frames())
            if (frame.id == 0)
                return true;
        if (static_cast<LONG>(end - GetTickCount()) <= 0)
            return false;
        Sleep(20);
    }
}

// One line of a key script:
//   wait MS | await-open | say TEXT | type TEXT | press KEY... | down KEY | up KEY | route N | unplug | replug
// KEY is D1-D9, C1-C6, T1-T4 or R1-R80; '#' starts a comment.
bool DisplayEmulator::RunScriptLine(const std::string& line)
{
    const auto words = KeyScript::Words(line);
    if (words.empty() || words[0][0] == '#')
        return true;
    const std::string& verb = words[0];
    const std::string rest = line.substr(line.find(verb) + verb.size() + (words.size() > 1 ? 1 : 0));
    std::vector<BYTE> codes;
    for (size_t i = 1; i < words.size(); ++i)
        if (BYTE code = KeyScript::CodeOfKeyName(words[i]))
            codes.push_back(code);
    if (verb == "wait")
        Sleep(static_cast<DWORD>(atoi(rest.c_str())));
    else if (verb == "await-open")
        return AwaitHandshake(10000) || (Note("no handshake came"), false);
    else if (verb == "say")
        Note(rest);
    else if (verb == "type") {
        Note("types  \"" + rest + "\"");
        Type(rest);
    } else if (verb == "press") {
        Note("presses " + rest);
        PressChord(codes);
    } else if (verb == "route") {
        Note("routing key " + rest);
        PressChord({KeyScript::CodeOfKeyName("R" + rest)});
    } else if (verb == "unplug" || verb == "replug")
        PlugCable(verb == "replug");
    else if (verb == "down" && !codes.empty())
        m_display.KeyDown(codes[0]);
    else if (verb == "up" && !codes.empty())
        m_display.KeyUp(codes[0]);
    else
        Note("unknown script line: " + line);
    return true;
}

bool DisplayEmulator::RunScript(const std::string& path)
{
    std::ifstream in(path);
    if (!in) {
        Note("cannot read " + path);
        return false;
    }
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!RunScriptLine(line))
            return false;
    }
    Sleep(300);  // let the last frames be shown
    return true;
}

// Pulls the cable out (the port pair goes away) or plugs it back in.
void DisplayEmulator::PlugCable(bool in)
{
    if (in) {
        m_display.Return();
        Note("the cable is plugged back in");
    } else {
        m_display.Vanish();
        Note("the cable is pulled out");
    }
    m_bUnplugged = !in;
}

// Keyboard: characters type their dot chord, space is D9; F1-F4 are T1-T4,
// F5-F10 are C1-C6; F11 then a cell number and Enter presses a routing key;
// F12 holds every key pressed until F12 again releases the chord; Insert
// pulls the cable out and plugs it back in; Esc quits.
void DisplayEmulator::RunKeyboard()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) {
        Note("no console to read keys from: give a key script with --script");
        return;
    }
    SetConsoleMode(input, 0);
    Note("keyboard: letters type braille, space = D9, F1-F4 = T1-T4, F5-F10 = C1-C6,");
    Note("          F11 <cell> Enter = routing key, F12 ... F12 = hold a chord,");
    Note("          Insert = pull the cable / plug it back, Esc = quit");
    std::vector<BYTE> held;
    bool holding = false;
    std::string routing;
    bool readingRouting = false;
    for (;;) {
        INPUT_RECORD record;
        DWORD count = 0;
        if (!ReadConsoleInputA(input, &record, 1, &count) || count == 0)
            return;
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown)
            continue;
        const WORD key = record.Event.KeyEvent.wVirtualKeyCode;
        const char c = record.Event.KeyEvent.uChar.AsciiChar;
        std::vector<BYTE> chord;
        if (key == VK_ESCAPE)
            return;
        if (key == VK_INSERT) {
            PlugCable(m_bUnplugged);
            continue;
        }
        if (readingRouting) {
            if (c >= '0' && c <= '9') {
                routing += c;
                continue;
            }
            readingRouting = false;
            chord = {KeyScript::CodeOfKeyName("R" + routing)};
            Note("routing key " + routing);
        } else if (key >= VK_F1 && key <= VK_F4) {
            chord = {static_cast<BYTE>(17 + key - VK_F1)};
        } else if (key >= VK_F5 && key <= VK_F10) {
            chord = {static_cast<BYTE>(11 + key - VK_F5)};
        } else if (key == VK_F11) {
            readingRouting = true;
            routing.clear();
            continue;
        } else if (key == VK_F12) {
            holding = !holding;
            if (!holding) {
                for (BYTE code : held)
                    m_display.KeyUp(code);
                held.clear();
            }
            Note(holding ? "holding keys" : "chord released");
            continue;
        } else if (c >= 0x20 && c < 0x7F) {
            chord = KeyScript::ChordOfCharacter(c);
        }
        if (chord.empty() || chord[0] == 0)
            continue;
        if (!holding) {
            PressChord(chord);
            continue;
        }
        for (BYTE code : chord) {
            m_display.KeyDown(code);
            held.push_back(code);
        }
    }
}
