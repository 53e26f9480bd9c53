#include "BundleRunner.h"
#include "GtestOutput.h"
#include "TestEnv.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace {

const int kPairsNeeded = 4;
const char kPairsExample[] = "COM11:COM21,COM12:COM22,COM13:COM23,COM14:COM24";
// The exit code of a program that this machine cannot run (as under CTest).
const int kNotRun = 77;
const char* const kResultNames[] = {"PASS", "FAIL", "SKIP"};

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

bool Has(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

bool IsAdministrator()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    BOOL member = FALSE;
    if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                 &administrators)) {
        if (!CheckTokenMembership(nullptr, administrators, &member))
            member = FALSE;
        FreeSid(administrators);
    }
    return member != FALSE;
}

bool IsWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// Wine takes WINEDLLOVERRIDES ("newdev,comctl32=n,b;mscoree=") from the Unix
// environment alone, which no Windows program can hand on: the same settings
// in Wine's registry, for the programs started while they are there. Windows
// itself needs none (it looks for DLLs in a program's folder first).
void SetWineOverrides(const std::string& overrides)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", 0, nullptr, 0, KEY_WRITE, nullptr, &hKey,
                        nullptr) != ERROR_SUCCESS)
        return;
    for (const std::string& entry : Split(overrides, ';')) {
        std::string mode = entry.substr(entry.find('=') + 1);
        mode = mode == "n,b" ? "native,builtin" : mode == "b,n" ? "builtin,native" : mode == "n" ? "native" : mode == "b" ? "builtin" : "";
        for (const std::string& dll : Split(entry.substr(0, entry.find('=')), ','))
            RegSetValueExA(hKey, dll.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(mode.c_str()),
                           static_cast<DWORD>(mode.size() + 1));
    }
    RegCloseKey(hKey);
}

bool IsWindows64()
{
    BOOL wow64 = FALSE;
    return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

// "Windows 10.0.19045" (and the Wine version under Wine), for the report.
std::string SystemName()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    using GetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    using WineVersionFn = const char*(CDECL*)();
    auto getVersion = reinterpret_cast<GetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    auto wineVersion = reinterpret_cast<WineVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    std::string name = "Windows";
    if (getVersion && getVersion(&info) == 0)
        name += " " + std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
                std::to_string(info.dwBuildNumber);
    if (wineVersion)
        name += std::string(" (Wine ") + wineVersion() + ")";
    return name;
}

}  // namespace

BundleRunner::BundleRunner(std::string folder, std::string pairs, std::vector<std::string> only)
    : m_folder(std::move(folder)), m_pairs(std::move(pairs)), m_only(std::move(only)),
      m_admin(IsAdministrator()), m_windows64(IsWindows64())
{
    m_pairCount = static_cast<int>(Split(m_pairs, ',').size());
}

bool BundleRunner::ReadManifest(std::string& problem)
{
    std::ifstream list(m_folder + "\\tests.txt");
    if (!list) {
        problem = "no list of test programs: " + m_folder + "\\tests.txt is missing";
        return false;
    }
    // PROGRAM <tab> TIMEOUT <tab> NEEDS (a,b or -) [<tab> NAME=VALUE ...]
    for (std::string line; std::getline(list, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::vector<std::string> fields = Split(line, '\t');
        if (line.empty() || line[0] == '#' || fields.size() < 3)
            continue;
        Program program;
        program.path = fields[0];
        program.timeoutSeconds = strtoul(fields[1].c_str(), nullptr, 10);
        program.needs = Split(fields[2] == "-" ? "" : fields[2], ',');
        program.environment.assign(fields.begin() + 3, fields.end());
        if (Has(program.needs, "linux"))
            program.linuxOnly = fields.size() > 3 ? fields[3] : "?", program.environment.clear();
        m_programs.push_back(program);
    }
    return true;
}

// VIEW <tab> KEY [<tab> VALUE]: what the registry-writing programs may change.
void BundleRunner::ReadRestoredKeys()
{
    std::ifstream list(m_folder + "\\restored-keys.txt");
    for (std::string line; std::getline(list, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] != '#')
            m_restoredKeys.push_back(line);
    }
}

bool BundleRunner::Selected(const Program& program) const
{
    if (m_only.empty())
        return true;
    const std::string name = program.path.substr(program.path.find_last_of('\\') + 1);
    return Has(m_only, name) || Has(m_only, name.substr(0, name.rfind('.')));
}

std::string BundleRunner::WhyNot(const Program& program) const
{
    if (!program.linuxOnly.empty())
        return "a test of the Linux run alone: it " + program.linuxOnly;
    if (program.path.rfind("x86_64\\", 0) == 0 && !m_windows64)
        return "a 64-bit program, and this is 32-bit Windows";
    if (Has(program.needs, "admin") && !m_admin)
        return "writes the machine's registry: run run-tests.cmd from an administrator command prompt";
    if (Has(program.needs, "pairs") && m_pairCount == 0)
        return "needs " + std::to_string(kPairsNeeded) + " COM port pairs of a null-modem driver: run-tests.cmd --pairs " +
               kPairsExample;
    if (Has(program.needs, "pairs") && m_pairCount < kPairsNeeded)
        return "needs " + std::to_string(kPairsNeeded) + " COM port pairs, " + std::to_string(m_pairCount) + " named";
    return "";
}

std::vector<std::string> BundleRunner::RestoreRegistry(const std::vector<RegistrySnapshot>& snapshots)
{
    std::vector<std::string> failed;
    for (const RegistrySnapshot& snapshot : snapshots)
        if (!snapshot.Restore())
            failed.push_back(snapshot.Path());
    return failed;
}

BundleRunner::Outcome BundleRunner::RunProgram(const Program& program)
{
    Outcome outcome;
    std::vector<RegistrySnapshot> snapshots;
    if (Has(program.needs, "admin"))
        for (const std::string& line : m_restoredKeys) {
            const std::vector<std::string> f = Split(line, '\t');
            if (f.size() >= 2)
                snapshots.emplace_back(HKEY_LOCAL_MACHINE, f[1], f[0] == "32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY,
                                       f.size() > 2 ? f[2] : "");
        }
    const std::string kOverrides = "WINEDLLOVERRIDES=";
    for (const std::string& entry : program.environment)
        if (entry.rfind(kOverrides, 0) == 0 && IsWine()) {
            snapshots.emplace_back(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", 0);
            SetWineOverrides(entry.substr(kOverrides.size()));
        }
    const std::string path = m_folder + "\\" + program.path;
    SetCurrentDirectoryA(path.substr(0, path.find_last_of('\\')).c_str());
    std::string line = "\"" + path + "\"";
    if (Has(program.needs, "pairs"))
        line += " --pairs " + m_pairs;
    const testenv::Stopwatch clock;
    const int exitCode = testenv::RunProgram(line, outcome.output, program.timeoutSeconds * 1000);
    outcome.seconds = clock.Ms() / 1000.0;
    SetCurrentDirectoryA(m_folder.c_str());
    const std::vector<std::string> unrestored = RestoreRegistry(snapshots);

    const GtestOutput cases = GtestOutput::Read(outcome.output);
    outcome.passed = cases.passed, outcome.failed = cases.failed, outcome.skipped = cases.skipped;
    outcome.skippedCases = cases.skippedCases;
    if (exitCode == -2)
        outcome.result = Result::Failed, outcome.why = "did not end within " + std::to_string(program.timeoutSeconds) + " s";
    else if (exitCode == -1)
        outcome.result = Result::Failed, outcome.why = "could not be started";
    else if (exitCode == kNotRun)
        outcome.result = Result::Skipped, outcome.why = "this machine cannot run it";
    else if (exitCode != 0)
        outcome.result = Result::Failed, outcome.why = "exit code " + std::to_string(exitCode);
    else if (outcome.passed == 0 && outcome.skipped > 0)
        outcome.result = Result::Skipped, outcome.why = "every test case skipped";
    if (!unrestored.empty()) {
        outcome.result = Result::Failed;
        outcome.why += (outcome.why.empty() ? "" : "; ") + std::string("could not restore the registry key ") + unrestored[0];
    }
    if (outcome.result == Result::Failed && outcome.failed == 0)
        outcome.failed = 1;  // a crash or a hang counts as a failed case too
    return outcome;
}

void BundleRunner::Tell(size_t index, const Program& program, const Outcome& outcome)
{
    char head[512];
    snprintf(head, sizeof head, "[%2u/%u] %s %s", static_cast<unsigned>(index + 1),
             static_cast<unsigned>(m_programs.size()), kResultNames[static_cast<int>(outcome.result)],
             program.path.c_str());
    std::string detail;
    if (!outcome.output.empty() || outcome.result != Result::Skipped) {
        char counts[128];
        snprintf(counts, sizeof counts, "%d passed, %d failed, %d skipped, %.1f s", outcome.passed, outcome.failed,
                 outcome.skipped, outcome.seconds);
        detail = counts;
    }
    if (!outcome.why.empty())
        detail += (detail.empty() ? "" : "; ") + outcome.why;
    const std::string text = std::string(head) + " (" + detail + ")";
    printf("%s\n", text.c_str());
    m_report << "== " << text << "\r\n";
    for (const std::string& skippedCase : outcome.skippedCases) {
        printf("        skipped %s\n", skippedCase.c_str());
        m_report << "   skipped " << skippedCase << "\r\n";
    }
    fflush(stdout);
    for (const std::string& line : Split(outcome.output, '\n'))
        m_report << "    " << line << "\r\n";
    m_report << "\r\n";
    m_report.flush();
    ++m_counts[static_cast<int>(outcome.result)];
    m_caseCounts[0] += outcome.passed;
    m_caseCounts[1] += outcome.failed;
    m_caseCounts[2] += outcome.skipped;
}

int BundleRunner::Run()
{
    const std::string reportPath = m_folder + "\\test-report.txt";
    m_report.open(reportPath, std::ios::binary | std::ios::trunc);
    std::string problem;
    if (!m_report || !ReadManifest(problem)) {
        fprintf(stderr, "run-tests: %s\n", m_report ? problem.c_str() : ("cannot write " + reportPath).c_str());
        return 2;
    }
    ReadRestoredKeys();
    const std::string about = "Cellivanta VK tests on " + SystemName() + (m_windows64 ? ", 64-bit" : ", 32-bit") +
                              ", administrator: " + (m_admin ? "yes" : "no") +
                              ", COM port pairs: " + (m_pairs.empty() ? "none named" : m_pairs);
    printf("%s\n", about.c_str());
    m_report << about << "\r\n\r\n";
    for (size_t i = 0; i < m_programs.size(); ++i) {
        const Program& program = m_programs[i];
        if (!Selected(program))
            continue;
        Outcome outcome;
        outcome.why = WhyNot(program);
        if (outcome.why.empty())
            outcome = RunProgram(program);
        else
            outcome.result = Result::Skipped;
        Tell(i, program, outcome);
    }
    return Close();
}

int BundleRunner::Close()
{
    char cases[128], programs[128];
    snprintf(cases, sizeof cases, "test cases: %d passed, %d failed, %d skipped", m_caseCounts[0], m_caseCounts[1],
             m_caseCounts[2]);
    snprintf(programs, sizeof programs, "%d passed, %d failed, %d skipped", m_counts[0], m_counts[1], m_counts[2]);
    m_report << cases << "\r\n" << "test programs: " << programs << "\r\n";
    m_report.close();
    // The last line counts the programs, as the lines above them do.
    printf("%s\nThe report, with each program's output: %s\\test-report.txt\n%s\n", cases, m_folder.c_str(),
           programs);
    return m_counts[1] == 0 ? 0 : 1;
}
