// The setup package Setup.exe under Wine, as the tool starts it and silently
// (/S): it installs VK.JLB and kvbrl.ini into the folder that JAWS names for
// braille drivers of other makers, or stops with its message when there is
// none; it closes the PC emulator first; its uninstaller takes back exactly
// what it put there.
#include "InstallerTestEnv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace installertest;

namespace {

const char kJawsKey[] = "Software\\Freedom Scientific\\ThirdPartyBraille\\1.0";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\CellivantaVK";
const char kUninstaller[] = "Uninstall Cellivanta VK.exe";

// JAWS records its folder in the 64-bit view, also for 32-bit readers.
void SetJawsFolder(const std::string& folder)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kJawsKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Target", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>(folder.size() + 1));
    RegCloseKey(key);
}

void RemoveJawsFolder()
{
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kJawsKey, KEY_WOW64_64KEY, 0);
}

bool UninstallEntryExists()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

int RunSetup(const char* parameters = "/S")
{
    return RunProgram("\"" + BinDir() + "\\Setup.exe\" " + parameters);
}

class SetupPackage : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = FreshDir("jaws-drivers");
        SetJawsFolder(folder);
    }
    void TearDown() override
    {
        RemoveJawsFolder();
        RemoveTree(folder);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
    }

    std::string In(const char* name) const { return folder + "\\" + name; }

    // The uninstaller hands over to a copy of itself in the temporary folder
    // and returns at once: wait for its work.
    void Uninstall()
    {
        ASSERT_EQ(RunProgram("\"" + In(kUninstaller) + "\" /S"), 0);
        EXPECT_TRUE(WaitFor([&] { return !FileExists(In(kUninstaller)) && !UninstallEntryExists(); }, 30000));
    }

    std::string folder;
};

TEST_F(SetupPackage, InstallsTheDriverAndItsKeyMapIntoTheJawsFolder)
{
    ASSERT_EQ(RunSetup(), 0);
    EXPECT_TRUE(ReadBytes(In("VK.JLB")) == ReadBytes(Bin64Dir() + "\\VK.JLB")) << "VK.JLB differs from the build";
    EXPECT_TRUE(ReadBytes(In("kvbrl.ini")) == ReadBytes(SourceDir() + "\\driver\\keys\\kvbrl.ini"));
    // The key map checker beside it checks the installed key map by default.
    EXPECT_EQ(RunProgram("\"" + In("vkkeys.exe") + "\" check"), 0);
    EXPECT_TRUE(FileExists(In(kUninstaller)));
    EXPECT_TRUE(UninstallEntryExists());
    // The installed driver loads in the screen-reader stand-in and answers.
    EXPECT_EQ(RunProgram("\"" + Bin64Dir() + "\\vkhost.exe\" --driver \"" + In("VK.JLB") + "\" info"), 0);
}

TEST_F(SetupPackage, UninstallerTakesBackExactlyWhatWasInstalled)
{
    // Another maker's driver shares the folder; it must survive.
    WriteBytes(In("Other.JLB"), "another maker's driver");
    ASSERT_EQ(RunSetup(), 0);
    ASSERT_TRUE(FileExists(In("VK.JLB")));
    Uninstall();
    EXPECT_FALSE(FileExists(In("VK.JLB")));
    EXPECT_FALSE(FileExists(In("kvbrl.ini")));
    EXPECT_FALSE(FileExists(In("vkkeys.exe")));
    EXPECT_FALSE(FileExists(In(kUninstaller)));
    EXPECT_EQ(ReadBytes(In("Other.JLB")), "another maker's driver");
    EXPECT_TRUE(FolderExists(folder));
}

TEST_F(SetupPackage, AFolderItMadeGoesWithTheUninstall)
{
    const std::string made = folder + "\\not yet there";
    SetJawsFolder(made);
    ASSERT_EQ(RunSetup(), 0);
    ASSERT_TRUE(FileExists(made + "\\VK.JLB"));
    folder = made;
    Uninstall();
    EXPECT_TRUE(WaitFor([&] { return !FolderExists(made); }, 10000));
}

TEST_F(SetupPackage, WithoutTheJawsFolderItInstallsNothing)
{
    RemoveJawsFolder();
    EXPECT_EQ(RunSetup(), 2);
    EXPECT_FALSE(FileExists(In("VK.JLB")));
    EXPECT_FALSE(FileExists(In("kvbrl.ini")));
    EXPECT_FALSE(UninstallEntryExists());
}

TEST_F(SetupPackage, WithoutTheJawsFolderItSaysSo)
{
    RemoveJawsFolder();
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::string commandLine = "\"" + BinDir() + "\\Setup.exe\"";
    ASSERT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    std::string text;
    HWND box = WaitForMessageBox(process.dwThreadId, text);
    EXPECT_NE(box, nullptr);
    EXPECT_NE(text.find("JAWS 10 or later was not found"), std::string::npos) << text;
    EXPECT_NE(text.find("Nothing was installed."), std::string::npos) << text;
    if (box)
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 2u);
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// A stand-in for the PC emulator: its window, class and title "PDIHooks".
class PcEmulator {
public:
    explicit PcEmulator(std::string watchedFile) : m_watched(std::move(watchedFile))
    {
        m_thread = std::thread([this] { Run(); });
        WaitFor([this] { return m_hWnd.load() != nullptr; }, 5000);
    }
    ~PcEmulator()
    {
        if (HWND hWnd = m_hWnd.load())
            PostMessageA(hWnd, WM_CLOSE, 0, 0);
        m_thread.join();
    }
    bool Closed() const { return m_closed; }
    // Whether the driver was already in place when the emulator was asked to close.
    bool DriverPresentAtClose() const { return m_driverPresentAtClose; }

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<PcEmulator*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
        if (message == WM_CLOSE && self) {
            self->m_driverPresentAtClose = FileExists(self->m_watched);
            self->m_closed = true;
            DestroyWindow(hWnd);
            return 0;
        }
        if (message == WM_DESTROY)
            PostQuitMessage(0);
        return DefWindowProcA(hWnd, message, wParam, lParam);
    }

    void Run()
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "PDIHooks";
        RegisterClassA(&windowClass);
        HWND hWnd = CreateWindowExA(0, "PDIHooks", "PDIHooks", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                    GetModuleHandleA(nullptr), nullptr);
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        m_hWnd = hWnd;
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0)
            DispatchMessageA(&msg);
        m_hWnd = nullptr;
        UnregisterClassA("PDIHooks", GetModuleHandleA(nullptr));
    }

    std::string m_watched;
    std::thread m_thread;
    std::atomic<HWND> m_hWnd{nullptr};
    std::atomic<bool> m_closed{false};
    std::atomic<bool> m_driverPresentAtClose{false};
};

TEST_F(SetupPackage, ClosesThePcEmulatorBeforeCopying)
{
    PcEmulator emulator(In("VK.JLB"));
    ASSERT_EQ(RunSetup(), 0);
    EXPECT_TRUE(WaitFor([&] { return emulator.Closed(); }, 5000));
    EXPECT_FALSE(emulator.DriverPresentAtClose());
    EXPECT_TRUE(FileExists(In("VK.JLB")));
}

}  // namespace
