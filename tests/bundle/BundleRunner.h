// The test bundle's runner: every test program its list names (tests.txt
// beside it), each in a process of its own with its time limit, or skipped
// with the reason when this machine or this run lacks what it needs; one
// line per program on the console, each program's output in one report file
// beside it, and the closing counts.
#pragma once

#include "RegistrySnapshot.h"

#include <fstream>
#include <string>
#include <vector>

class BundleRunner {
public:
    // folder: the bundle's; pairs: as given to --pairs ("" for none); only:
    // program names to run (empty for all).
    BundleRunner(std::string folder, std::string pairs, std::vector<std::string> only);
    // Runs them all; the process's exit code: 0 when nothing failed.
    int Run();

private:
    struct Program {
        std::string path;  // relative to the bundle, "x86_64\\keys_test.exe"
        unsigned long timeoutSeconds = 300;
        std::vector<std::string> needs;
        std::vector<std::string> environment;  // NAME=VALUE: Wine's settings of its registration
        std::string linuxOnly;  // why a test of the build is none of the bundle's
    };
    enum class Result { Passed, Failed, Skipped };
    struct Outcome {
        Result result = Result::Passed;
        std::string why;  // for a failed or skipped program
        int passed = 0, failed = 0, skipped = 0;  // its test cases
        std::vector<std::string> skippedCases;   // "Suite.Name: reason"
        std::string output;
        double seconds = 0;
    };

    bool ReadManifest(std::string& problem);
    void ReadRestoredKeys();
    bool Selected(const Program& program) const;
    std::string WhyNot(const Program& program) const;
    Outcome RunProgram(const Program& program);
    std::vector<std::string> RestoreRegistry(const std::vector<RegistrySnapshot>& snapshots);
    void Tell(size_t index, const Program& program, const Outcome& outcome);
    int Close();

    std::string m_folder;
    std::string m_pairs;
    int m_pairCount = 0;
    std::vector<std::string> m_only;
    std::vector<Program> m_programs;
    std::vector<std::string> m_restoredKeys;
    bool m_admin = false;
    bool m_windows64 = false;
    std::ofstream m_report;
    int m_counts[3] = {};      // programs passed, failed, skipped
    int m_caseCounts[3] = {};  // test cases passed, failed, skipped
};
