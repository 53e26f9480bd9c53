// Setup.exe run again over an installed driver, as a repair or an update:
// the user's changed key map stays (the new default beside it), an unchanged
// one is updated; a driver JAWS holds loaded is replaced or the restart that
// replaces it is said, never neither; versions repair, upgrade, or refuse to
// go back silently; a file it cannot write changes nothing.
#include "SetupFixture.h"

#include <wincrypt.h>

using namespace testenv;

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingRenames[] = "PendingFileRenameOperations";

std::string Sha256Hex(const std::string& bytes)
{
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    BYTE digest[32];
    DWORD cbDigest = sizeof digest;
    std::string hex;
    if (CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        if (CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
            CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0) &&
            CryptGetHashParam(hash, HP_HASHVAL, digest, &cbDigest, 0))
            for (BYTE b : digest)
                hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
        if (hash)
            CryptDestroyHash(hash);
        CryptReleaseContext(provider, 0);
    }
    return hex;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Takes the rename pairs whose source names `name` out again.
void CancelRenamesOf(const std::string& name)
{
    const std::string all = SetupFixture::PendingRenames();
    std::string kept;
    for (size_t at = 0; at < all.size() && all[at];) {
        const std::string from = all.c_str() + at, to = all.c_str() + at + from.size() + 1;
        if (!Contains(from, name))
            kept += from + '\0' + to + '\0';
        at += from.size() + to.size() + 2;
    }
    kept += '\0';
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, REG_MULTI_SZ, kept.data(),
                    static_cast<DWORD>(kept.size()));
}

BOOL CALLBACK AddText(HWND child, LPARAM param)
{
    char text[2048];
    if (GetWindowTextA(child, text, sizeof text) > 0)
        *reinterpret_cast<std::string*>(param) += std::string(text) + "\n";
    return TRUE;
}

// The texts of every window inside a window, one a line.
std::string TextsOf(HWND window)
{
    std::string texts;
    EnumChildWindows(window, AddText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

struct TextSearch {
    const char* part;
    HWND found;
};

BOOL CALLBACK FindText(HWND child, LPARAM param)
{
    auto search = reinterpret_cast<TextSearch*>(param);
    char text[2048];
    if (GetWindowTextA(child, text, sizeof text) > 0 && Contains(text, search->part)) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

HWND ChildWithText(HWND window, const char* part)
{
    TextSearch search = {part, nullptr};
    EnumChildWindows(window, FindText, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Setup.exe as a user runs it: its welcome page, which lets JAWS run, then
// Next; the files are copied and the last page comes by itself. Answers the
// setup's window once the last page shows lastPageText (null when not).
HWND RunToLastPage(Program& setup, const char* lastPageText)
{
    HWND window = nullptr;
    if (!WaitFor([&] {
            window = DialogOfThread(setup.ThreadId());
            return window && Contains(TextsOf(window), "JAWS may keep running");
        }, 20000)) {
        ADD_FAILURE() << "no welcome page";
        return nullptr;
    }
    EXPECT_FALSE(Contains(TextsOf(window), "Close JAWS"));
    EXPECT_TRUE(Contains(TextsOf(window), "(vkdiag.exe) and the uninstaller (Uninstall Cellivanta VK.exe)"))
        << TextsOf(window);
    PostMessageA(window, WM_COMMAND, IDOK, 0);  // Next
    if (!WaitFor([&] { return Contains(TextsOf(window), lastPageText); }, 30000)) {
        ADD_FAILURE() << "no last page with \"" << lastPageText << "\":\n" << TextsOf(window);
        return nullptr;
    }
    return window;
}

// The screen-reader stand-in holding a driver loaded until dropped.
class DriverHost {
public:
    DriverHost(const std::string& driver, const std::string& outputFile) : m_outputFile(outputFile)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE output = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, &inherit,
                                    CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = output;
        std::string line = "\"" + Bin64Dir() + "\\vkhost.exe\" --driver \"" + driver + "\" info wait 120000";
        if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                            &m_process))
            m_process = {};
        CloseHandle(output);
    }
    ~DriverHost()
    {
        if (m_process.hProcess) {
            TerminateProcess(m_process.hProcess, 1);
            WaitForSingleObject(m_process.hProcess, 10000);
            CloseHandle(m_process.hThread);
            CloseHandle(m_process.hProcess);
        }
        DeleteFileA(m_outputFile.c_str());
    }
    // vkhost names the driver once it holds it, or says it could not.
    bool Loaded()
    {
        return WaitFor([&] { return ReadBytes(m_outputFile).find("loaded ") != std::string::npos; }, 30000);
    }

private:
    std::string m_outputFile;
    PROCESS_INFORMATION m_process = {};
};

class SetupUpdate : public SetupFixture {
protected:
    void SetUp() override
    {
        SetupFixture::SetUp();
        ClearPendingRenames();
        shippedDriver = ReadBytes(Bin64Dir() + "\\VK.JLB");
        shippedKeyMap = ReadBytes(SourceDir() + "\\driver\\keys\\kvbrl.ini");
        ASSERT_EQ(RunSetup(), 0);
    }

    // Probing the file for writing while vkhost loads it would make the load
    // fail: vkhost's own output says when it has the driver.
    std::string shippedDriver, shippedKeyMap;
};

TEST_F(SetupUpdate, AChangedKeyMapIsTheUsersAndStays)
{
    const std::string changed = shippedKeyMap + "\r\n; my chords\r\n";
    WriteBytes(In("kvbrl.ini"), changed);
    std::string log;
    ASSERT_EQ(RunSetupLogged("", log), 0);
    EXPECT_EQ(ReadBytes(In("kvbrl.ini")), changed);
    EXPECT_TRUE(ReadBytes(In("kvbrl.ini.new")) == shippedKeyMap) << "the new default is not beside it";
    EXPECT_TRUE(Contains(log, "Your changed key map kvbrl.ini was kept")) << log;
    EXPECT_TRUE(Contains(log, "fc kvbrl.ini kvbrl.ini.new")) << log;

    // The uninstaller takes what it installed and says where the user's stays.
    const std::string uninstallLog = UninstallLogged();
    EXPECT_EQ(ReadBytes(In("kvbrl.ini")), changed);
    EXPECT_FALSE(FileExists(In("kvbrl.ini.new")));
    EXPECT_FALSE(FileExists(In("VK.JLB")));
    EXPECT_TRUE(Contains(uninstallLog, "Your changed key map stays in " + In("kvbrl.ini"))) << uninstallLog;
}

TEST_F(SetupUpdate, AnUnchangedKeyMapIsUpdated)
{
    // As an earlier version left it: its own key map, recorded as installed.
    const std::string earlier = "; the key map of an earlier version\r\n[Function Keys]\r\n";
    WriteBytes(In("kvbrl.ini"), earlier);
    SetUninstallValue("KeyMapSha256", Sha256Hex(earlier));
    ASSERT_EQ(RunSetup(), 0);
    EXPECT_TRUE(ReadBytes(In("kvbrl.ini")) == shippedKeyMap) << "an unchanged key map was not updated";
    EXPECT_FALSE(FileExists(In("kvbrl.ini.new")));
    EXPECT_EQ(UninstallValue("KeyMapSha256"), Sha256Hex(shippedKeyMap));

    // The same version again is a repair: a shipped key map is replaced.
    std::string log;
    ASSERT_EQ(RunSetupLogged("", log), 0);
    EXPECT_TRUE(Contains(log, "Repairing version")) << log;
    EXPECT_TRUE(ReadBytes(In("kvbrl.ini")) == shippedKeyMap);
    EXPECT_FALSE(FileExists(In("kvbrl.ini.new")));
}

TEST_F(SetupUpdate, VersionsUpgradeAndNeverGoBackSilently)
{
    const std::string version = UninstallValue("DisplayVersion");
    EXPECT_FALSE(version.empty());
    EXPECT_EQ(UninstallValue("Publisher"), "Kelvadore");

    SetUninstallValue("DisplayVersion", "0.9");
    std::string log;
    ASSERT_EQ(RunSetupLogged("", log), 0);
    EXPECT_TRUE(Contains(log, "Updating version 0.9 to " + version)) << log;
    EXPECT_EQ(UninstallValue("DisplayVersion"), version);

    // A newer version stays unless the switch forces the older one.
    SetUninstallValue("DisplayVersion", "99.0");
    WriteBytes(In("VK.JLB"), "the newer driver");
    EXPECT_EQ(RunSetupLogged("", log), 6);
    EXPECT_EQ(ReadBytes(In("VK.JLB")), "the newer driver");
    EXPECT_EQ(UninstallValue("DisplayVersion"), "99.0");
    EXPECT_TRUE(Contains(log, "/DOWNGRADE")) << log;
    // Interactively it asks, and No keeps the newer one.
    std::string text;
    EXPECT_EQ(AnswerSetupsBox("", text, IDNO), 6u);
    EXPECT_TRUE(Contains(text, "A newer version of the Cellivanta VK driver is installed (99.0)")) << text;
    EXPECT_EQ(ReadBytes(In("VK.JLB")), "the newer driver");
    ASSERT_EQ(RunSetupLogged("/DOWNGRADE", log), 0);
    EXPECT_TRUE(ReadBytes(In("VK.JLB")) == shippedDriver);
    EXPECT_EQ(UninstallValue("DisplayVersion"), version);
}

TEST_F(SetupUpdate, AFileItCannotWriteChangesNothing)
{
    WriteBytes(In("VK.JLB"), "the old driver");
    // A folder where the new driver would be written first.
    CreateDirectoryA(In("VK.JLB.part").c_str(), nullptr);
    std::string log;
    EXPECT_EQ(RunSetupLogged("", log), 7);
    EXPECT_TRUE(Contains(log, "Nothing was changed")) << log;
    EXPECT_EQ(ReadBytes(In("VK.JLB")), "the old driver");
    EXPECT_FALSE(FileExists(In("vkkeys.exe.part")));
    EXPECT_FALSE(FileExists(In("kvbrl.ini.part")));
}

// A .part file planted by another user, held open so that it cannot be
// deleted but can be written: the setup never writes into it.
TEST_F(SetupUpdate, APlantedPartFileIsNeverWrittenInto)
{
    WriteBytes(In("VK.JLB"), "the old driver");
    WriteBytes(In("VK.JLB.part"), "planted");
    HANDLE planted = CreateFileA(In("VK.JLB.part").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(planted, INVALID_HANDLE_VALUE);
    std::string log;
    EXPECT_EQ(RunSetupLogged("", log), 13);
    CloseHandle(planted);
    EXPECT_TRUE(Contains(log, "found VK.JLB.part in " + folder + ", a file it did not write")) << log;
    EXPECT_EQ(ReadBytes(In("VK.JLB.part")), "planted");
    EXPECT_EQ(ReadBytes(In("VK.JLB")), "the old driver");
}

// How Wine 8.0 treats a driver that a process (vkhost) has loaded, checked by
// hand with cmd's copy, del and ren: overwriting it fails with a sharing
// violation, deleting it with access denied, renaming it succeeds; the same
// as Windows. So under Wine the setup takes the rename path and exits 0; the
// restart path (3010) is the next test's.
TEST_F(SetupUpdate, ADriverInUseIsReplacedOrTheRestartIsSaid)
{
    // The installed driver with bytes of its own at the end, still loadable.
    const std::string oldDriver = shippedDriver + "the old driver";
    WriteBytes(In("VK.JLB"), oldDriver);
    DriverHost host(In("VK.JLB"), folder + "-host.txt");
    ASSERT_TRUE(host.Loaded()) << ReadBytes(folder + "-host.txt");

    std::string log;
    const int exitCode = RunSetupLogged("", log);
    if (exitCode == 3010) {
        EXPECT_TRUE(Contains(PendingRenames(), "VK.JLB")) << "3010 without a replacement scheduled";
        EXPECT_TRUE(Contains(log, "Windows replaces it when it restarts")) << log;
    } else {
        ASSERT_EQ(exitCode, 0);
        EXPECT_TRUE(ReadBytes(In("VK.JLB")) == shippedDriver) << "exit code 0 with the old driver in place";
        EXPECT_TRUE(Contains(log, "JAWS loads it the next time it starts braille")) << log;
        // The old file is removed at the restart.
        EXPECT_TRUE(Contains(PendingRenames(), "VK.JLB.old-")) << PendingRenames();
    }
}

// What a user hears: the welcome page lets JAWS run, the last page says what
// was kept and when JAWS uses the new driver.
TEST_F(SetupUpdate, TheLastPageSaysWhatWasKeptAndWhenJawsUsesTheNewDriver)
{
    WriteBytes(In("kvbrl.ini"), shippedKeyMap + "; my chords\r\n");
    DriverHost host(In("VK.JLB"), folder + "-host.txt");
    ASSERT_TRUE(host.Loaded()) << ReadBytes(folder + "-host.txt");
    Program setup("\"" + BinDir() + "\\Setup.exe\"");
    HWND window = RunToLastPage(setup, "Start JAWS and choose");
    ASSERT_NE(window, nullptr);
    const std::string page = TextsOf(window);
    EXPECT_TRUE(Contains(page, "Your changed key map kvbrl.ini was kept")) << page;
    EXPECT_TRUE(Contains(page, "JAWS loads it the next time it starts braille")) << page;
    PostMessageA(window, WM_COMMAND, IDOK, 0);  // Finish
    DWORD exitCode = 0;
    EXPECT_TRUE(setup.Wait(20000, exitCode));
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(SetupUpdate, ADriverThatCannotEvenBeRenamedIsReplacedAtTheRestart)
{
    // Held open without delete sharing, as a virus scanner may: neither
    // overwritten nor renamed, on Windows as under Wine.
    const std::string oldDriver = "the old driver";
    WriteBytes(In("VK.JLB"), oldDriver);
    HANDLE held = CreateFileA(In("VK.JLB").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::string log;
    EXPECT_EQ(RunSetupLogged("", log), 3010);
    CloseHandle(held);
    EXPECT_EQ(ReadBytes(In("VK.JLB")), oldDriver);
    EXPECT_TRUE(Contains(PendingRenames(), "VK.JLB.part")) << "the replacement is not scheduled";
    EXPECT_TRUE(Contains(log, "VK.JLB is in use and cannot be replaced now")) << log;

    // Interactively the last page says so, and Enter there does not restart
    // Windows (Finish is pressed only then: under Wine a restart would end
    // every program of the prefix).
    ClearPendingRenames();
    held = CreateFileA(In("VK.JLB").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    Program setup("\"" + BinDir() + "\\Setup.exe\"");
    HWND window = RunToLastPage(setup, "replaced only when Windows restarts");
    CloseHandle(held);
    ASSERT_NE(window, nullptr);
    // The page's controls come one after the other.
    HWND later = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (later = ChildWithText(window, "reboot later")) != nullptr; }, 10000))
        << TextsOf(window);
    ASSERT_TRUE(WaitFor([&] { return SendMessageA(later, BM_GETCHECK, 0, 0) == BST_CHECKED; }, 5000))
        << "Enter would restart Windows";
    PostMessageA(window, WM_COMMAND, IDOK, 0);  // Finish
    DWORD exitCode = 0;
    EXPECT_TRUE(setup.Wait(20000, exitCode));
    EXPECT_EQ(exitCode, 3010u);
}

// Uninstalled before the restart a 3010 install asked for: the new driver
// must not come in at that restart; a tool still in use goes at the restart,
// and the uninstaller says so.
TEST_F(SetupUpdate, AnUninstallBeforeTheRestartLeavesNothingToComeBack)
{
    HANDLE held = CreateFileA(In("VK.JLB").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::string log;
    EXPECT_EQ(RunSetupLogged("", log), 3010);
    CloseHandle(held);
    ASSERT_TRUE(Contains(PendingRenames(), "VK.JLB.part"));
    // Another maker's file waiting in the same folder for the restart.
    WriteBytes(In("othermaker.dll.part"), "theirs");
    ASSERT_TRUE(MoveFileExA(In("othermaker.dll.part").c_str(), In("othermaker.dll").c_str(),
                            MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    held = CreateFileA(In("vkkeys.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    const std::string uninstallLog = UninstallLogged(3010);
    CloseHandle(held);
    const std::string renames = PendingRenames();
    EXPECT_FALSE(Contains(renames, "VK.JLB.part")) << "the driver comes back at the restart";
    EXPECT_FALSE(FileExists(In("VK.JLB.part")));
    EXPECT_FALSE(FileExists(In("VK.JLB")));
    EXPECT_TRUE(Contains(renames, "vkkeys.exe")) << renames;
    EXPECT_TRUE(Contains(uninstallLog, "removed when Windows restarts: vkkeys.exe")) << uninstallLog;
    EXPECT_TRUE(Contains(uninstallLog, "restart Windows to complete the uninstall")) << uninstallLog;
    EXPECT_TRUE(Contains(renames, "othermaker.dll.part")) << "another maker's rename is cancelled too";
    CancelRenamesOf("othermaker.dll.part");
}

}  // namespace
