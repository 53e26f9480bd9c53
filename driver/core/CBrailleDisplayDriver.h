// The driver object: the one implementation of the screen reader's braille
// driver interface. A single static instance lives in VK.JLB.
//
// Four threads meet here: the screen reader's (its calls), the hidden
// window's (one of the screen reader's: received bytes and keys), the braille
// thread (the display) and the transport's worker (link/). What crosses
// between them, and nothing else:
//
// | What                      | Set by                         | Read by                         | Needed for                    |
// |---------------------------|--------------------------------|---------------------------------|-------------------------------|
// | m_callLock (CCallLock)    | Open, Close, Sleep; a line     | the same                        | one session change at a time; |
// |                           | that revives the window        |                                 | a nested Close is owed        |
// | m_brailleThread           | Open, Close (begin, end); the  | any thread that posts to it     | no post to a reused id or to  |
// | (CBrailleThread)          | braille thread (last command)  | or wakes it                     | a thread that took its last   |
// | m_breakOff (CBreakOff)    | Close (from its start), Sleep, | the braille thread's handshake  | bounded Close, Sleep and Open |
// |                           | a wait that ran out            | and port retries (its own copy) |                               |
// | m_hEventCommandComplete   | the braille thread (its own    | the call that posted BTINIT,    | Open, Close and Sleep learn   |
// |                           | copy)                          | BTSLEEP or BTTERMINATE          | their command ran             |
// | m_handOff                 | the braille thread (bytes, new | the window's thread (takes,     | no key lost; a connection     |
// | (CReceiveHandOff)         | connections); the window (its  | starts afresh); the braille     | that comes back needs nobody  |
// |                           | rounds)                        | thread (rounds)                 | to answer                     |
// | m_hWnd                    | the call that makes or ends    | every thread                    | keys on the window's thread   |
// |                           | the window                     |                                 |                               |
// | m_pCallbacks              | Open, SetCallbacks             | the window's thread             | callbacks replaced any time   |
// | m_bQueueRunAsked          | a slot 38 call of another      | the window's thread (clears)    | one queue run on its way      |
// |                           | thread                         |                                 |                               |
// | m_bOpened, m_bSleeping    | Open, Close, Sleep             | ShowText, ShowStatus, Clear     | lines refused while asleep    |
//
// Everything else is one thread's own, as grouped below. Every wait of the
// screen reader's threads is PumpingWait (bounded, serving their messages).
#pragma once

#include "IBrailleDriver.h"
#include "CCellivantaDisplay.h"
#include "CBrailleThread.h"
#include "CBreakOff.h"
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
    // Asks the hidden window's own thread to destroy it (no other thread can).
    static const UINT WM_DESTROY_HIDDEN = WM_USER + 14;
    // To the braille thread: what the system said of the link (wParam, a
    // LinkNotice) asks it to look at its link now.
    static const UINT WM_BT_LOOK_AT_LINK = WM_USER + 16;
    enum LinkNotice { kNoNotice = 0, kPortArrived = 1, kResumed = 2 };
    // To the braille thread: the window took its round and bytes wait.
    static const UINT WM_BT_ROUND_TAKEN = WM_USER + 17;
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
    bool StartSession(const char* lpszPort, bool& threadServes);
    BOOL AbandonOpen(bool threadServes);
    void CloseSession();
    void LetGoOfSession(bool threadEnded, const char* caller);
    BOOL SleepSession(BOOL bSleep);
    bool SetKeyMapPath(const char* lpszDriverName);

    // ---- The screen reader's side of the braille thread (BrailleThreadControl.cpp) ----
    bool BeginBrailleThread();
    BOOL PostThreadCommand(int code, const void* data, int count);
    bool WaitForCommandComplete(DWORD breakOffMs);
    // Asks the braille thread to give up what it waits for (a handshake, a
    // busy port, a port that does not open), inside a call.
    void BreakOff();
    bool EndBrailleThread();
    // The session's event, window and class, once no braille thread runs.
    void Cleanup();

    // ---- The braille thread (BrailleThread.cpp) ----
    static unsigned __stdcall BrailleThreadProc(void* pvStart);
    void ServeCommands(HANDLE hDone);
    void DropCommandsLeft();
    BOOL RunQueuedMessages(HANDLE hDone);
    BOOL ProcessThreadCommandSafely(int code, BYTE* block, DWORD dwParam);
    BOOL ProcessThreadCommand(int code, BYTE* block, DWORD dwParam);
    bool InitDevice(const char* lpszPort);
    std::vector<std::string> PortCandidates(const std::string& lpszPort);
    bool TryPort(const std::string& port, int& textCells, int& statusCells);
    bool HandshakeWait(DWORD ms);
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
    // The braille thread's side: rounds of bytes posted to the window.
    void TakeReceived(size_t bound);
    void ForwardReceived(HWND hWnd);
    bool PostRound(HWND hWnd, size_t waiting, DWORD now);
    bool RoundInFlight(HWND hWnd) const;
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
    void AssembleHandedBytes(size_t count);
    void RunKeyQueue(WPARAM round, LPARAM stamp);
    void DrainKeyQueue();
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
    HANDLE m_hEventCommandComplete = nullptr;

    // -- Each locked by itself (the table above).
    CCallLock m_callLock;
    CBrailleThread m_brailleThread;
    CBreakOff m_breakOff;
    CReceiveHandOff m_handOff;

    // -- Any thread: set by the screen reader's threads, read by the window's.
    std::atomic<IBrailleDriverCallbacks*> m_pCallbacks{nullptr};
    // -- Replaced by the screen reader's threads inside a call; read by every thread.
    std::atomic<HWND> m_hWnd{nullptr};
    // -- Set by a thread that asks the window's thread for a run of the key
    // queue, cleared by that run.
    std::atomic<bool> m_bQueueRunAsked{false};

    // -- Written by the braille thread while Open waits for it; read by anyone once it answered.
    int m_nTextCells = 0;
    int m_nStatusCells = 0;
    std::string m_sPortName;

    // -- The display: its connection, the cells and the handshake are the
    // braille thread's; its receive state (frame assembler, key capture, key
    // queue) is the window's thread's, but for the braille thread clearing the
    // queue at Open, when no window lives.
    CCellivantaDisplay m_display;

    // -- The braille thread's own: its copy of the break-off, the port
    // argument of the last Open, the line the screen reader gave last (shown
    // again when the display comes back), the watch over the display.
    HANDLE m_hBrailleAbort = nullptr;
    std::string m_sOpenPort;
    std::vector<BYTE> m_currentLine;
    bool m_bWatchLink = false;
    bool m_bLost = false;
    bool m_bLineStale = false;  // the newest line has not reached the display
    DWORD m_dwLastLineTry = 0;
    bool m_bWindowGoneTraced = false;
    bool m_bRetryNow = false;
    DWORD m_dwNextRetry = 0;
    // Its side of the hand-off: the window its last round went to, that
    // round's number and time, when it last forwarded bytes, whether the
    // quiet line since was announced, a queue run still owed (bytes posted
    // whose run was refused), a failing post traced.
    HWND m_hWndRound = nullptr;
    LONG m_nRoundPosted = 0;
    DWORD m_dwRoundPostedAt = 0;
    DWORD m_dwLastBytesForwarded = 0;
    bool m_bQuietForwarded = true;
    bool m_bQueueRunOwed = false;
    bool m_bPostFailing = false;
};
