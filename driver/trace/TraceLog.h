// The user's log: when the switch is on, the trace lines go to VK.LOG with
// the local time and the thread id. Callers only queue a line (bounded; a
// full queue drops it and the next line written counts the drops); a
// writer thread of its own does the file work, so the key path and the
// screen reader's calls never wait on the disk. The file is capped; the
// previous one is kept beside it. A file that cannot be written turns the
// log off and changes nothing else.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TraceLog {
public:
    static constexpr size_t kMaxQueuedLines = 1024;

    // Turns the log on or off as the user's switch says. It takes the trace
    // lines only when no one else (a test, a tool) has installed a sink.
    static void FollowSwitch();
    // The session closed: the writer writes what is queued and ends, and
    // with it its hold on the library, which can then unload like any other.
    // The next Open starts the log again if the switch is on.
    static void EndSession();

private:
    static TraceLog& Instance();
    static void Switch(bool on);
    static void Sink(const char* line);
    static DWORD WINAPI WriterThread(LPVOID param);

    void Follow(bool on);
    bool Start();
    void Stop();
    void Queue(const char* line);
    static std::string Stamp();
    std::string TakeDropCount();
    void WriteLastDrops();
    void WriteQueued();
    bool WriteLine(const std::string& line);
    bool OpenFile();
    void CloseFile();
    void GiveUp();
    void DropStart();

    SRWLOCK m_lock = SRWLOCK_INIT;  // guards the queue, the drop count and the flags only
    std::vector<std::string> m_queue;
    size_t m_dropped = 0;
    bool m_running = false;
    bool m_stopping = false;
    // Closed by whoever stops the writer, once it has ended. A writer stuck in
    // a write keeps both, and its file: no other writer starts meanwhile.
    HANDLE m_hWake = nullptr;
    HANDLE m_hThread = nullptr;
    bool m_stuck = false;
    // The writer thread's alone while it runs.
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    unsigned long long m_fileBytes = 0;
    std::string m_path;
};
