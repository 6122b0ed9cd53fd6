// Small text helpers of the clip-list, project and settings readers.
#pragma once

#include <string>
#include <vector>

// The text without leading and trailing white space.
std::string utils_strip_spaces(const std::string& text);
// Number of blank-separated fields.
int utils_count_fields(const char* text);
// The blank-separated fields as 32-bit integers; false when one is not.
bool utils_int_fields(const std::string& text, std::vector<long long>* out);
