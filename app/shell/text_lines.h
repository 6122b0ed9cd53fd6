// The lines of a kept text file, read alike whatever wrote them.
#pragma once

#include <string>
#include <vector>

// The lines without their ends; "\r\n" ends like "\n", and a last line
// without an end counts.
std::vector<std::string> text_lines(const std::string& text);
