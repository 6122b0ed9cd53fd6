// tamsel-dev: the developer's command-line driver over the engine.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "devtool/command.h"

#ifndef TAMSEL_VERSION
#define TAMSEL_VERSION "unknown"
#endif

namespace {
std::map<std::string, DevCommand>& registry() {
  static std::map<std::string, DevCommand> r;
  return r;
}

// The listing asked for goes to stdout; after a usage error it goes to stderr.
void print_help(FILE* to) {
  std::fprintf(to,
               "usage: tamsel-dev COMMAND [ARGS...]\n"
               "       tamsel-dev help [COMMAND] | --help | --version\n"
               "commands:\n");
  for (const auto& [name, cmd] : registry()) std::fprintf(to, "  %s %s -- %s\n", name.c_str(), cmd.usage, cmd.description);
}

void print_command(FILE* to, const DevCommand& cmd) {
  std::fprintf(to, "usage: tamsel-dev %s %s\n%s\n", cmd.name, cmd.usage, cmd.description);
}

int unknown_command(const char* name) {
  std::fprintf(stderr, "tamsel-dev: unknown command '%s'\n", name);
  print_help(stderr);
  return 2;
}
}  // namespace

bool dev_register(const DevCommand& cmd) {
  registry()[cmd.name] = cmd;
  return true;
}

int dev_run(const char* name, int argc, char** argv) {
  auto it = registry().find(name);
  if (it == registry().end()) return 2;
  std::fflush(stdout);
  return it->second.run(argc, argv);
}

int dev_usage(const char* name, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::fprintf(stderr, "tamsel-dev %s: ", name);
  std::vfprintf(stderr, fmt, ap);
  std::fputc('\n', stderr);
  va_end(ap);
  auto it = registry().find(name);
  if (it != registry().end()) std::fprintf(stderr, "usage: tamsel-dev %s %s\n", name, it->second.usage);
  return 2;
}

int dev_bad_count(const char* name, int argc) {
  return dev_usage(name, "wrong number of arguments (%d)", argc - 1);
}

int dev_fail(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::fputs("tamsel-dev: ", stderr);
  std::vfprintf(stderr, fmt, ap);
  std::fputc('\n', stderr);
  va_end(ap);
  return 1;
}

bool dev_parse_int(const char* text, long long* out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 0);
  if (*end || errno == ERANGE) return false;
  *out = v;
  return true;
}

int dev_chroma_notation(int chroma_format) {
  switch (chroma_format) {
    case 2: return 422;
    case 3: return 444;
    default: return 420;
  }
}

bool dev_parse_chroma(const char* text, int* chroma_format) {
  if (std::strcmp(text, "420") == 0) *chroma_format = 1;
  else if (std::strcmp(text, "422") == 0) *chroma_format = 2;
  else return false;
  return true;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "tamsel-dev: no command given\n");
    print_help(stderr);
    return 2;
  }
  const char* first = argv[1];
  if (!std::strcmp(first, "-h") || !std::strcmp(first, "--help") || !std::strcmp(first, "help")) {
    if (argc == 2) {
      print_help(stdout);
      return 0;
    }
    if (argc > 3) {
      std::fprintf(stderr, "tamsel-dev help: one command at most, %d given\n", argc - 2);
      print_help(stderr);
      return 2;
    }
    auto it = registry().find(argv[2]);
    if (it == registry().end()) return unknown_command(argv[2]);
    print_command(stdout, it->second);
    return 0;
  }
  if (!std::strcmp(first, "--version")) {
    std::printf("tamsel-dev %s\n", TAMSEL_VERSION);
    return 0;
  }
  auto it = registry().find(first);
  if (it == registry().end()) return unknown_command(first);
  if (argc == 3 && (!std::strcmp(argv[2], "--help") || !std::strcmp(argv[2], "-h"))) {
    print_command(stdout, it->second);
    return 0;
  }
  return it->second.run(argc - 1, argv + 1);
}
