// Cleaning up after a failed write of an output file.
#pragma once

// Removes what a failed write left: regular files only, never a device,
// pipe or folder named as the output. 1 when a file was removed.
int utils_remove_partial_output(const char* name);
