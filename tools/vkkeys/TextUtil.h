// Small text helpers of vkkeys.
#pragma once

#include <string>
#include <vector>

namespace text {

std::string Trim(const std::string& s);
std::vector<std::string> Split(const std::string& s, char separator);
// As the platform's profile functions compare names: without regard to case.
bool EqualNoCase(const std::string& a, const std::string& b);
std::string Lower(std::string s);
// Edits (insert, delete, replace) that turn a into b, ignoring case.
size_t Distance(const std::string& a, const std::string& b);

}  // namespace text
