// The summary of an elementary stream shared by info and describe.
#pragma once

#include "devtool/input.h"

// Prints one record for a video or audio elementary stream (what the
// demultiplexer measured) between prefix and suffix; 0, or 1 with a message
// when the stream cannot be read.
int dev_print_stream_summary(const char* path, const DevInput& in, const char* prefix, const char* suffix);
