// What a GoogleTest program's output says: how many test cases passed,
// failed and were skipped, and each skipped case with the reason it gave.
#pragma once

#include <string>
#include <vector>

struct GtestOutput {
    int passed = 0, failed = 0, skipped = 0;
    std::vector<std::string> skippedCases;  // "Suite.Name: reason"

    static GtestOutput Read(const std::string& output);
};
