// The driver object: the one implementation of the screen reader's braille
// driver interface. A single static instance lives in VK.JLB.
//
// Five threads meet in the driver: the screen reader's (its calls), the
// hidden window's (one of the screen reader's: received bytes and keys), the
// braille thread (the display), the transport's worker (link/) and the trace
// writer (trace/). Every mechanism by which they meet, and nothing else:
//
// | What                          | Set by                          | Read by                       | Needed for                    |
// |-------------------------------|---------------------------------|-------------------------------|-------------------------------|
// | core/ (this object)           |                                 |                               |                               |
// | m_callLock (CCallLock: event, | Open, Close, Sleep; a line that | the same                      | one session change at a time; |
// | owner id)                     | revives the window              |                               | a nested Close is owed        |
// | m_brailleThread (CBrailleThre-| Open, Close (begin, end); the   | any thread that posts to it   | no post to a reused id or a   |
// | ad: one lock over the thread, | braille thread (its start, a    | or wakes it; Open, Close and  | thread past its last command; |
// | its completion event and its  | command waited for, its last);  | Sleep wait for the completion;| calls learn their command ran;|
// | break-off event)              | Close (from its start), Sleep   | the braille thread's handshake| bounded Close, Sleep and Open |
// |                               | (TRUE), a wait that ran out     | and the transport's open      |                               |
// | m_handOff (CReceiveHandOff:   | the braille thread (bytes, new  | the window's thread (takes,   | no key lost; one notice on    |
// | lock; the notice flag)        | connections, notice posted);    | starts afresh); the braille   | its way at a time, the next   |
// |                               | the window (takes, clears flag) | thread (waiting, flag)        | as soon as it is taken        |
// | m_hWnd (atomic)               | the call that makes or ends the | every thread                  | keys on the window's thread   |
// |                               | window                          |                               |                               |
// | m_pCallbacks (atomic)         | Open, SetCallbacks              | the window's thread           | callbacks replaced any time   |
// | m_bOpened, m_bSleeping        | Open, Close, Sleep              | ShowText, ShowStatus, Clear   | lines refused while asleep    |
// | (atomics)                     |                                 |                               |                               |
// | Commands WM_BT_FIRST + code   | Open, Close, Sleep, ShowText,   | the braille thread            | every exchange with the       |
// | (thread messages, heap block) | ShowStatus, Clear               |                               | display on one thread         |
// | The notice: WM_DEVICE_BYTE,   | the braille thread              | the window's thread           | bytes and keys reach the      |
// | then WM_PROCESS_KEY_QUEUE     |                                 |                               | screen reader's thread        |
// | WM_BT_LOOK_AT_LINK (thread    | the window (a port arrived, the | the braille thread            | a stale handle noticed, the   |
// | message, wParam: LinkNotice)  | PC woke)                        |                               | line rewritten, a lost display|
// |                               |                                 |                               | tried at once                 |
// | link/ (the transport)         |                                 |                               |                               |
// | receive buffer (critical      | the worker (stores a pass)      | the braille thread (reads out)| no byte lost or torn          |
// | section)                      |                                 |                               |                               |
// | data event (auto reset)       | the worker                      | the braille thread's wait     | bytes forwarded at once       |
// | stop event; ready event       | the braille thread; the worker  | the worker; the braille thread| the worker starts and ends    |
// |                               |                                 |                               | when its owner says           |
// | state, connected, stop asked, | the braille thread (Init, Start,| the worker; the braille thread| the worker stores only while  |
// | output purged (atomics)       | Stop, purges)                   | (before a write)              | started; a cut frame mended   |
// | port failed, link lost        | the worker, a write             | the braille thread (its watch)| a pulled cable noticed        |
// | (atomics)                     |                                 |                               |                               |
// | abandoned records (mutex)     | the braille thread (cancels)    | the braille thread, the next  | records of operations the     |
// |                               |                                 | Init (reaps)                  | system holds are freed once   |
// | port mark (named object)      | the braille thread (connect)    | other processes (diagnostics) | who holds a port is known     |
// | open and port seams (atomics) | a test, before it opens         | the braille thread            | a test stands in for the port |
// | trace/ (the trace writer)     |                                 |                               |                               |
// | sink (atomic); switch (lock)  | Open (FollowSwitch), Close      | every thread that traces      | lines go to the log or nowhere|
// | log queue (lock), wake event  | every thread that traces (lines)| the writer                    | no caller waits on the disk   |
// | writer's handle               | Open (start), Close (stop)      | Close's stop (PumpingWait)    | what was queued is written    |
// | library hold (reference)      | each thread's starter           | the loader                    | no thread runs in code that   |
// |                               |                                 |                               | was unloaded                  |
//
// Everything else is one thread's own, as grouped below. Every wait of the
// screen reader's threads is bounded and serves what is sent to them:
// PumpingWait, or SendMessageTimeout without SMTO_BLOCK.
#pragma once

#include "IBrailleDriver.h"
#include "CCellivantaDisplay.h"
#include "CBrailleThread.h"
#include "CCallLock.h"
#include "CReceiveHandOff.h"

#include <atomic>
#include <string>
#include <vector>

// Instance handle of the module that holds the driver (set when VK.JLB loads).
extern HINSTANCE g_hDriverInstance;

class CBrailleDisplayDriver : public IBrailleDriver {
public:
    // Braille thread commands, posted as WM_USER + 2 + code.
    enum BrailleThreadCommand {
        BTEndThread = 0,
        BTINIT = 2,
        BTTERMINATE = 3,
        BTSLEEP = 4,
        BTShowText = 5,
        BTShowStatus = 6,
        BTClear = 7,
        BTPoll = 8,
    };
    static const UINT WM_BT_FIRST = WM_USER + 2;
    static const UINT WM_BT_LAST = WM_USER + 2 + BTPoll;
    static const UINT WM_DEVICE_BYTE = WM_USER + 12;
    static const UINT WM_PROCESS_KEY_QUEUE = WM_USER + 13;
    // WM_PROCESS_KEY_QUEUE's wParam when it ends a notice (lParam: its time).
    static const WPARAM kNoticeRun = 1;
    // To the braille thread: what the system said of the link (wParam, a
    // LinkNotice) asks it to look at its link now.
    static const UINT WM_BT_LOOK_AT_LINK = WM_USER + 16;
    enum LinkNotice { kNoNotice = 0, kPortArrived = 1, kResumed = 2 };
    static const DWORD MAX_WAIT_TIMEOUT = 5000;
    // Open stops looking for the display after this long, whatever the
    // number of ports; it returns at the latest MAX_WAIT_TIMEOUT later.
    static const DWORD kOpenSearchMs = 10000;
    // A Close waits this long for a call of another thread to end (it breaks
    // that call off first).
    static const DWORD kCloseWaitMs = kOpenSearchMs + 2 * MAX_WAIT_TIMEOUT;
    // How often a lost display is looked for.
    static const DWORD kRetryPeriodMs = 2000;

    static const GUID s_manufacturerGuid;
    // Every post to the hidden window goes through here (a test can make
    // it refuse, as a full message queue does on Windows).
    static BOOL(WINAPI* s_postToWindow)(HWND, UINT, WPARAM, LPARAM);
    // Keys from the display are no input to Windows: each one delivered
    // resets the system's idle timer through here, or the PC of a user who
    // works on the display alone falls asleep (a test can count the calls).
    static EXECUTION_STATE(WINAPI* s_keepSystemAwake)(EXECUTION_STATE);

    CBrailleDisplayDriver();
    ~CBrailleDisplayDriver();
    CBrailleDisplayDriver(const CBrailleDisplayDriver&) = delete;
    CBrailleDisplayDriver& operator=(const CBrailleDisplayDriver&) = delete;

    BOOL Open(const char* lpszPort, IBrailleDriverCallbacks* pCallbacks, const char* lpszDisplayName,
              const char* lpszDriverName) override;
    void Close() override;
    IBrailleDriverCallbacks* SetCallbacks(IBrailleDriverCallbacks* pCallbacks) override;
    int GetDisplayName(char* lpszName, int cbMaxLength) override;
    int GetDriverName(char* lpszName, int cbMaxLength) override;
    int GetDisplayKeyMapName(char* lpszName, int cbMaxLength) override;
    int GetInterfaceVersion() override { return 0x300; }
    int GetDriverVersion() override { return 1070; }
    int GetDisplayVersion() override { return 0; }
    BOOL HasIntegratedSpeech() override { return FALSE; }
    int Reserved10(int) override { return 0; }
    BOOL ShowText(const char* cells, int count) override;
    BOOL ShowStatus(const char* cells, int count) override;
    BOOL Clear() override;
    int Reserved14(int) override { return 0; }
    int Reserved15(int) override { return 0; }
    BOOL Sleep(BOOL bSleep) override;
    void Reserved17(int) override {}
    int GetTextCellCount() override { return m_nTextCells; }
    int Reserved19(int) override { return 0; }
    int GetStatusCellCount() override { return m_nStatusCells; }
    int GetTotalCellCount() override { return m_nStatusCells + m_nTextCells; }
    BOOL SupportsCustomLayout() override { return FALSE; }
    BOOL SetCustomLayout(int, int, int, int) override { return FALSE; }
    int Reserved24(int) override { return 0; }
    int Reserved25(int) override { return 0; }
    int Reserved26(int) override { return 0; }
    BOOL SupportsFirmnessSetting(int* pnLevels) override;
    BOOL SetFirmness(int nFirmness) override;
    BOOL IsKeyWaiting() override { return FALSE; }
    void SetOneHandedMode(int) override {}
    int GetTypeKeysMode() override { return 0; }
    void SetTypeKeysMode(int) override {}
    BOOL SupportsTypeKeysMode() override { return FALSE; }
    BOOL GetManufacturerInfo(char* lpszName, int cbMaxNameLen, GUID* lpguidUnique) override;
    void SetTriKeyProcessingMode(int) override {}
    void SetControlKeyProcessingMode(int) override {}
    int EncodedTypeKey(BYTE byKey) override;
    void ProcessKeyCombinationQueue() override;

private:
    // ---- On the screen reader's threads (HostCalls.cpp; CopyName with the
    // answers in CBrailleDisplayDriver.cpp) ----
    static int CopyName(const char* name, char* lpszName, int cbMaxLength);
    static void CopyField(char* field, const char* value);
    // The call lock; leaving runs a Close owed by a handler inside the call
    // (true when it ended the session).
    bool EnterCall(const char* caller, DWORD waitMs = MAX_WAIT_TIMEOUT);
    bool LeaveCall();
    BOOL OpenSession(const char* lpszPort, IBrailleDriverCallbacks* pCallbacks, const char* lpszDisplayName,
                     const char* lpszDriverName);
    bool ConnectSession(const char* lpszPort);
    void EndSession(DWORD threadEndMs);
    BOOL SleepSession(BOOL bSleep);
    bool SetKeyMapPath(const char* lpszDriverName);

    // ---- The screen reader's side of the braille thread (BrailleThreadControl.cpp) ----
    bool BeginBrailleThread();
    static bool CallerWaitsFor(int code);
    BOOL PostThreadCommand(int code, const void* data, int count);
    bool WaitForCommandComplete(DWORD breakOffMs);

    // ---- The braille thread (BrailleThread.cpp) ----
    static unsigned __stdcall BrailleThreadProc(void* pvDriver);
    void ServeCommands();
    void DropCommandsLeft();
    BOOL RunQueuedMessages();
    BOOL ProcessThreadCommandSafely(int code, BYTE* block, DWORD dwParam);
    BOOL ProcessThreadCommand(int code, BYTE* block, DWORD dwParam);
    bool InitDevice(const char* lpszPort);
    std::vector<std::string> PortCandidates(const std::string& lpszPort);
    bool TryPort(const std::string& port, int& textCells, int& statusCells);
    bool HandshakeWait(DWORD ms) const;
    bool BrokenOff() const;
    void SleepDevice(bool bSleep);
    void BlankCells();
    // The newest line to the display; a line the display did not take is
    // sent again at the tick until it does.
    void ShowLine();
    void RetryStaleLine();
    void ShowCurrentLine();
    void Poll();

    // ---- Link loss and reconnection, on the braille thread (LinkLossAndReconnect.cpp) ----
    void WatchLink();
    void MarkLost(const char* why);
    bool Reconnect();
    void LookAtLink(WPARAM notice);

    // ---- The hand-off and the hidden window (HiddenWindowHandOff.cpp) ----
    // The braille thread's side: notices of bytes posted to the window.
    void PutReceived(size_t bound);
    void ForwardReceived(HWND hWnd);
    const char* PostNotice(HWND hWnd, size_t waiting, DWORD now);
    bool LineTurnedQuiet(DWORD now) const;
    bool WindowAlive() const;
    // Made, destroyed and revived by the screen reader's threads.
    bool RegisterWindowClass();
    HWND CreateHiddenWindow();
    bool HiddenWindowMissing() const;
    // A window that died with its thread is made anew on the calling thread:
    // inside a call that holds the call lock, or from a line (ShowText,
    // Clear) only when no call runs.
    void ReviveHiddenWindowInCall();
    void ReviveHiddenWindowFromLine();
    bool DestroyHiddenWindow();
    void UnregisterWindowClass();
    // The window's own thread: the received bytes, the key queue.
    static LRESULT CALLBACK HiddenWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    bool ServesWindow(HWND hWnd) const;
    void AssembleHandedBytes(size_t count);
    void RunKeyQueue(HWND hWnd, WPARAM run, LPARAM stamp);
    bool DrainKeyQueue(HWND hWnd);
    void DeliverKeyCombination(IBrailleDriverCallbacks* callbacks, char* szKeyComb, int nKeyCombLen,
                               int nRoutingIndex, WORD woBrailleDots);
    int DeliverTypedKey(IBrailleDriverCallbacks* callbacks, BYTE byKey);

    static CBrailleDisplayDriver* s_pDriver;

    // -- The screen reader's threads, inside a call of Open, Close or Sleep (the call lock):
    std::atomic<BOOL> m_bOpened{0};
    std::atomic<BOOL> m_bSleeping{0};  // also read by ShowText, ShowStatus and Clear
    char m_szDisplayName[256] = {};
    char m_szDriverName[256] = {};
    char m_szKeyMapName[256] = "Cellivanta VK";
    std::string m_sTypingIniFile;  // read by the window's thread; set only while no window lives
    char m_szWndClassName[80] = "BrailleDisplayDrvClass";

    // -- Each locked by itself (the table above).
    CCallLock m_callLock;
    CBrailleThread m_brailleThread;
    CReceiveHandOff m_handOff;

    // -- Any thread: set by the screen reader's threads, read by the window's.
    std::atomic<IBrailleDriverCallbacks*> m_pCallbacks{nullptr};
    // -- Replaced by the screen reader's threads inside a call; read by every thread.
    std::atomic<HWND> m_hWnd{nullptr};

    // -- Written by the braille thread only, in BTINIT while Open waits for
    // it; read by anyone once it answered.
    int m_nTextCells = 0;
    int m_nStatusCells = 0;

    // -- The display: its connection, the cells and the handshake are the
    // braille thread's; its receive state (frame assembler, key capture, key
    // queue) is the window's thread's, but for the braille thread clearing the
    // queue at Open, when no window lives.
    CCellivantaDisplay m_display;

    // -- The braille thread's own: the port argument of the last Open and
    // the port the display answered on, the line the screen reader gave last
    // (shown again when the display comes back), the watch over the display.
    std::string m_sOpenPort;
    std::string m_sPortName;
    std::vector<BYTE> m_currentLine;
    bool m_bWatchLink = false;
    bool m_bLost = false;
    bool m_bLineStale = false;  // the newest line has not reached the display
    DWORD m_dwLastLineTry = 0;
    bool m_bWindowGoneTraced = false;
    bool m_bRetryNow = false;
    DWORD m_dwNextRetry = 0;
    // Its side of the hand-off: when it last posted bytes, whether a notice
    // went since the line turned quiet, a failing post traced.
    DWORD m_dwLastBytesForwarded = 0;
    bool m_bQuietNoticed = true;
    bool m_bPostFailing = false;
};
