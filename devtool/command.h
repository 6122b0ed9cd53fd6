// Command registry of tamsel-dev. Each command lives in its own cmd_*.cpp:
//
//   static int run_probe(int argc, char** argv);  // argv[0] is the command
//   TAMSEL_DEV_COMMAND(probe, "FILE", run_probe);
//
// Commands print key=value records on stdout, one per line; failures go to
// stderr with a non-zero exit status.
#pragma once

#include <string>

struct DevCommand {
  const char* name;
  const char* usage;
  int (*run)(int argc, char** argv);
};

bool dev_register(const DevCommand& cmd);
// Runs another registered command with the given arguments (argv[0] is its
// name); returns 2 when there is no such command.
int dev_run(const char* name, int argc, char** argv);

// Helpers shared by the commands.
int dev_usage(const char* name);                  // prints usage, returns 2
int dev_fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));  // stderr, returns 1
bool dev_parse_int(const char* text, long long* out);

#define TAMSEL_DEV_CAT2(a, b) a##b
#define TAMSEL_DEV_CAT(a, b) TAMSEL_DEV_CAT2(a, b)
#define TAMSEL_DEV_COMMAND(name, usage, fn) \
  static const bool TAMSEL_DEV_CAT(dev_reg_, __LINE__) = dev_register(DevCommand{#name, usage, fn})
