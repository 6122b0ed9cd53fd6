// The stream a command is about, given as ID[:PID]: a PES stream id
// (0xE0, 0xC0, 0xBD...) and, in transport streams, a PID.
#pragma once

// True when text reads as ID or ID:PID (decimal or 0x hex); *pid is 0
// without a PID.
bool dev_parse_stream_key(const char* text, int* id, int* pid);

// Takes "--stream ID[:PID]" out of argv (argc shrinks by 2). 0 when absent
// (id and pid stay as they were) or taken; 2 after a usage message.
int dev_take_stream_option(const char* name, int* argc, char** argv, int* id, int* pid);
