// tamsel-dev: the developer's command-line driver over the engine.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "devtool/command.h"

namespace {
std::map<std::string, DevCommand>& registry() {
  static std::map<std::string, DevCommand> r;
  return r;
}

void print_help() {
  std::fprintf(stderr, "usage: tamsel-dev COMMAND [ARGS...]\ncommands:\n");
  for (const auto& [name, cmd] : registry()) std::fprintf(stderr, "  %s %s\n", name.c_str(), cmd.usage);
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

int dev_usage(const char* name) {
  auto it = registry().find(name);
  if (it != registry().end()) std::fprintf(stderr, "usage: tamsel-dev %s %s\n", name, it->second.usage);
  return 2;
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
  long long v = std::strtoll(text, &end, 0);
  if (*end) return false;
  *out = v;
  return true;
}

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")) {
    print_help();
    return argc < 2 ? 2 : 0;
  }
  auto it = registry().find(argv[1]);
  if (it == registry().end()) {
    std::fprintf(stderr, "tamsel-dev: unknown command '%s'\n", argv[1]);
    print_help();
    return 2;
  }
  return it->second.run(argc - 1, argv + 1);
}
