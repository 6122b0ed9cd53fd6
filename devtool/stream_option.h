// The --stream ID[:PID] option of the commands that pick one video stream,
// and the check that an output file is none of the inputs.
#pragma once

#include <string>
#include <vector>

// Reads "ID" or "ID:PID" (decimal or 0x hex); false when it is neither.
bool dev_parse_stream(const char* text, int* id, int* pid);

// 1 with the cause on stderr when out names the same file (device and inode)
// as one of inputs; 0 otherwise, also when out does not exist yet.
int dev_check_not_input(const char* out, const std::vector<std::string>& inputs);

