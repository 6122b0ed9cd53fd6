// How the commands meet their files: one check of an input that names the
// cause when it cannot be read, one view of what the file is, refusal of
// the kinds a command cannot read, and the output files' opening.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>

enum class InputKind {
  unknown,
  empty,
  mpeg_audio,  // MPEG audio elementary stream
  ac3,         // AC-3 elementary stream
  video,       // MPEG-1 or MPEG-2 video elementary stream
  program,     // MPEG-1 system or MPEG-2 program stream (VCD, SVCD, DVD)
  transport,
  bmp,
  jpeg,
  quicktime,
  avi,
};

struct DevInput {
  InputKind kind = InputKind::unknown;
  int stream_type = 0;  // the probe's code; 0 for files that are not MPEG
  uint64_t size = 0;
};

// "an MPEG-2 program stream", "a BMP picture", ...
const char* dev_kind_text(const DevInput& in);

// Checks that path is a readable file (not a folder) and tells what it is.
// False, with the cause on stderr ("No such file or directory", "Is a
// directory", "Permission denied"), when it cannot be read.
bool dev_input(const char* path, DevInput* in);

// dev_input, then refuses any kind not in accepted with a message that says
// what the file is and what the command wanted. A file the probe cannot name
// passes when unknown_ok, so the command's own reader can judge damaged
// streams. 0 on success, 1 with the message otherwise.
int dev_input_of(const char* path, std::initializer_list<InputKind> accepted, const char* wanted, bool unknown_ok,
                 DevInput* in = nullptr);

// The kind of a file already in memory (the whole file, size bytes), told
// as dev_input tells it but by the probes over these bytes: a command that
// maps its input reads it once.
DevInput dev_input_of_bytes(const uint8_t* data, uint64_t size);
// The refusal of dev_input_of for a kind already known.
int dev_refuse_kind(const char* path, const DevInput& in, std::initializer_list<InputKind> accepted,
                    const char* wanted, bool unknown_ok);

// Checks only that path can be read (raw picture inputs); 0 or 1 with the cause.
int dev_input_readable(const char* path, uint64_t* size = nullptr);

// Opens an output file for writing; null with the cause on stderr.
FILE* dev_open_output(const char* path);
// True when both paths name one existing file (device and inode).
bool dev_same_file(const char* a, const char* b);

// "frame 5000 outside 0..4499" when n is not in 0..count-1 (count 0: "the
// file has no frame"); 0 when it is, else 1 with the message.
int dev_check_range(const char* what, long long n, long long count);
