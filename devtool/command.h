// Command registry of tamsel-dev. Each command lives in its own cmd_*.cpp:
//
//   static int run_probe(int argc, char** argv);  // argv[0] is the command
//   TAMSEL_DEV_COMMAND(probe, "FILE", "stream type and bit rate of a file", run_probe);
//
// Commands print key=value records on stdout, one per line; failures go to
// stderr with a non-zero exit status: 2 for a usage error (the arguments do
// not fit the command), 1 for anything else.
#pragma once

#include <string>

struct DevCommand {
  const char* name;
  const char* usage;
  const char* description;  // one line, for the help listing
  int (*run)(int argc, char** argv);
};

bool dev_register(const DevCommand& cmd);
// Runs another registered command with the given arguments (argv[0] is its
// name); returns 2 when there is no such command.
int dev_run(const char* name, int argc, char** argv);

// Helpers shared by the commands.
// Says what was wrong with the arguments, then the command's usage; returns 2.
int dev_usage(const char* name, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// dev_usage for an argument count the command does not take.
int dev_bad_count(const char* name, int argc);
int dev_fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));  // stderr, returns 1
bool dev_parse_int(const char* text, long long* out);
// 420, 422 or 444 from a chroma_format (1, 2, 3); the one notation every
// command prints and takes.
int dev_chroma_notation(int chroma_format);
// Reads 420 or 422 (the formats the frame buffers hold) into a chroma_format.
bool dev_parse_chroma(const char* text, int* chroma_format);

#define TAMSEL_DEV_CAT2(a, b) a##b
#define TAMSEL_DEV_CAT(a, b) TAMSEL_DEV_CAT2(a, b)
#define TAMSEL_DEV_COMMAND(name, usage, description, fn) \
  static const bool TAMSEL_DEV_CAT(dev_reg_, __LINE__) = dev_register(DevCommand{#name, usage, description, fn})
