// What the tests of the setup package share: the screen reader's folder for
// drivers of other makers recorded as JAWS records it, Setup.exe run as the
// tool or an administrator runs it, its uninstall entry and its uninstaller.
#pragma once

#include "ScopedRegistryKey.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class SetupFixture : public ::testing::Test {
public:
    // The renames Windows does at its next start, as one text; and none.
    static std::string PendingRenames();
    static void ClearPendingRenames();

protected:
    void SetUp() override;
    void TearDown() override;

    // JAWS records its folder in the 64-bit view, also for 32-bit readers.
    void SetJawsFolder(const std::string& folder);
    void SetJawsTarget(DWORD type, const std::string& bytes);
    void RemoveJawsFolder();
    bool UninstallEntryExists() const;
    // A text value of the uninstall entry ("" when missing), and setting one
    // as an earlier setup would have left it.
    std::string UninstallValue(const char* name) const;
    void SetUninstallValue(const char* name, const std::string& text);

    static int RunSetup(const std::string& parameters = "/S");
    // Setup.exe run as a user runs it, up to the message box it stops with:
    // the box's text in text, answered with button; its exit code
    // (STILL_ACTIVE when it shows no box or does not end).
    static DWORD AnswerSetupsBox(const std::string& parameters, std::string& text, int button = IDOK);
    // Setup.exe /S with its log in the test's folder; log gets what it wrote.
    int RunSetupLogged(const std::string& parameters, std::string& log);

    // The user's temporary folder (with its final backslash), and the
    // folders in it where silent setups without /LOG= wrote their logs.
    static std::string TempDir();
    static std::vector<std::string> LogFolders(const std::string& temp);
    static void RemoveLogFolders(const std::string& temp);

    std::string In(const char* name) const { return folder + "\\" + name; }
    // The uninstaller run as Windows runs its entry's command: in place, where
    // it stays until the restart. Expects its exit code.
    void Uninstall(const std::string& parameters = "/S", int exitCode = 0);
    // Uninstall("/S") with its log in the test's folder: what it wrote.
    std::string UninstallLogged(int exitCode = 0);



    std::string folder;

private:
    // Both cleared when the fixture is made: a run killed by its timeout
    // leaves nothing that changes the next.
    ScopedRegistryKey m_jawsKey{"Software\\Freedom Scientific\\ThirdPartyBraille\\1.0"};
    ScopedRegistryKey m_uninstallKey{"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\CellivantaVK", 0};
};
