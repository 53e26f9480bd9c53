#include "TraceLog.h"

#include "CloseIfSet.h"
#include "LibraryHold.h"
#include "LogSettings.h"
#include "PumpingWait.h"
#include "SrwGuard.h"
#include "Trace.h"

#include <cstdio>
#include <new>

namespace {
// Longer than any wait for one write; a writer stuck on a dead disk is left behind.
const DWORD kStopWaitMs = 2000;
const DWORD kWriteEveryMs = 100;

// Open, Close and a reconnection may meet here.
SRWLOCK g_switching = SRWLOCK_INIT;

// Built when the library loads (a guarded local would cost the thread
// runtime a slot at every load) and never destroyed: a line traced by
// another object's destructor at unload still finds it.
alignas(TraceLog) unsigned char g_logStorage[sizeof(TraceLog)];
TraceLog* const g_log = new (g_logStorage) TraceLog;

}  // namespace

TraceLog& TraceLog::Instance()
{
    return *g_log;
}

void TraceLog::FollowSwitch()
{
    Switch(LogSettings::IsOn());
}

void TraceLog::EndSession()
{
    Switch(false);
}

// Nothing may leave the driver: memory running out here leaves the log as it was.
void TraceLog::Switch(bool on)
{
    SrwGuard lock(g_switching);
    try {
        Instance().Follow(on);
    } catch (...) {
    }
}

void TraceLog::Follow(bool on)
{
    if (!on) {
        if (ReplaceTraceSink(Sink, nullptr) || m_hThread)
            Stop();
        return;
    }
    if (m_running || !Start())
        return;
    if (!ReplaceTraceSink(nullptr, Sink))
        Stop();  // someone else reads the lines
}

// A line that cannot be stamped or queued for want of memory is counted as dropped.
void TraceLog::Sink(const char* line)
{
    TraceLog& log = Instance();
    try {
        log.Queue(line);
    } catch (...) {
        SrwGuard lock(log.m_lock);
        if (log.m_running)
            ++log.m_dropped;
    }
}

// The time and thread are taken here, where the line happens; the disk is
// the writer's.
void TraceLog::Queue(const char* line)
{
    std::string entry = Stamp();
    SrwGuard lock(m_lock);
    if (!m_running)
        return;
    if (m_queue.size() >= kMaxQueuedLines) {
        ++m_dropped;
        return;
    }
    entry += TakeDropCount() + line + "\r\n";
    m_queue.push_back(std::move(entry));
    // The writer looks every kWriteEveryMs; only a queue filling up wakes it
    // early, so a key costs no system call here.
    if (m_queue.size() == kMaxQueuedLines / 2)
        SetEvent(m_hWake);
}

std::string TraceLog::Stamp()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u tid %lu: ", t.wYear, t.wMonth, t.wDay,
             t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, GetCurrentThreadId());
    return stamp;
}

// "(N lines dropped) " once after drops; called with the queue locked.
std::string TraceLog::TakeDropCount()
{
    if (!m_dropped)
        return std::string();
    const std::string count = "(" + std::to_string(m_dropped) + " lines dropped) ";
    m_dropped = 0;
    return count;
}

// The file is opened here, so that a folder that cannot be written leaves
// the log off at once.
bool TraceLog::Start()
{
    if (m_hThread)
        Stop();  // a writer that gave up
    if (m_hThread)
        return false;  // still stuck in a write: never a second writer on its file
    m_path = LogSettings::FilePath();
    if (m_path.empty())
        return false;
    CreateDirectoryA(LogSettings::Folder().c_str(), nullptr);
    if (!OpenFile())
        return false;
    m_hWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // The writer holds the library loaded until it has ended.
    if (!m_hWake || !LibraryHold::Take()) {
        DropStart();
        return false;
    }
    {
        SrwGuard lock(m_lock);
        m_running = true;
        m_stopping = false;
        m_dropped = 0;
    }
    m_hThread = CreateThread(nullptr, 0, WriterThread, nullptr, 0, nullptr);
    if (!m_hThread) {
        LibraryHold::Give();
        DropStart();
        return false;
    }
    return true;
}

// Writes what was queued, then ends. A writer stuck in a write (a dead
// network drive) is waited for once; it keeps its file and its event, and
// ends by itself whenever the write returns.
void TraceLog::Stop()
{
    {
        SrwGuard lock(m_lock);
        m_stopping = true;
        if (m_hWake)
            SetEvent(m_hWake);
    }
    m_stuck = m_hThread && PumpingWait(1, &m_hThread, m_stuck ? 0 : kStopWaitMs) == WAIT_TIMEOUT;
    SrwGuard lock(m_lock);
    m_running = false;
    m_queue.clear();
    if (m_stuck)
        return;
    CloseIfSet(m_hThread);
    CloseIfSet(m_hWake);
    // Nothing of the log's is left on the heap when the library unloads.
    std::vector<std::string>().swap(m_queue);
    std::string().swap(m_path);
}

DWORD WINAPI TraceLog::WriterThread(LPVOID)
{
    TraceLog& log = Instance();
    for (;;) {
        WaitForSingleObject(log.m_hWake, kWriteEveryMs);
        log.WriteQueued();
        SrwGuard lock(log.m_lock);
        if (log.m_stopping || !log.m_running) {
            log.m_running = false;  // no line touches the wake event any more
            break;
        }
    }
    log.WriteQueued();  // what came while the last batch was written
    log.WriteLastDrops();
    log.CloseFile();
    LibraryHold::EndThread(0);
}

void TraceLog::WriteQueued()
{
    std::vector<std::string> batch;
    {
        SrwGuard lock(m_lock);
        batch.swap(m_queue);
    }
    try {
        for (const std::string& line : batch)
            if (!WriteLine(line)) {
                GiveUp();
                return;
            }
    } catch (...) {
        GiveUp();  // out of memory on the writer's own thread: the log goes off
    }
}

// Drops after the last line written are counted by a line of their own.
void TraceLog::WriteLastDrops()
{
    try {
        std::string drops;
        {
            SrwGuard lock(m_lock);
            drops = TakeDropCount();
        }
        if (!drops.empty() && m_hFile != INVALID_HANDLE_VALUE)
            WriteLine(Stamp() + drops + "TraceLog : the log ends\r\n");
    } catch (...) {
    }
}

// A full file becomes the old one, replacing the one before.
bool TraceLog::WriteLine(const std::string& line)
{
    if (m_fileBytes > 0 && m_fileBytes + line.size() > LogSettings::kMaxFileBytes) {
        CloseFile();
        MoveFileExA(m_path.c_str(), (m_path + LogSettings::kOldFileSuffix).c_str(), MOVEFILE_REPLACE_EXISTING);
        if (!OpenFile())
            return false;
    }
    DWORD written = 0;
    if (!WriteFile(m_hFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size())
        return false;
    m_fileBytes += written;
    return true;
}

// Others may read it (vkdiag) or remove it while it is open.
bool TraceLog::OpenFile()
{
    m_hFile = CreateFileA(m_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hFile == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    GetFileSizeEx(m_hFile, &size);
    m_fileBytes = static_cast<unsigned long long>(size.QuadPart);
    return true;
}

void TraceLog::CloseFile()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}

void TraceLog::DropStart()
{
    GiveUp();
    CloseIfSet(m_hWake);
}

// Logging goes off with nothing else changed: the lines go nowhere again.
void TraceLog::GiveUp()
{
    ReplaceTraceSink(Sink, nullptr);
    CloseFile();
    SrwGuard lock(m_lock);
    m_running = false;
    m_queue.clear();
}
