// Shared helpers for the tests: fixture paths, running the driver and the
// oracles, file I/O, PSNR and trace capture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/trace.h"

namespace tsupport {

// Folder the fixture script wrote into (TAMSEL_FIXTURES or the build's).
std::string fixtures_dir();
// Path of a generated fixture; records a test failure when it is missing.
std::string fixture(const std::string& name);
// First of the named fixtures that is absent; empty when all are there.
std::string missing_fixture(std::initializer_list<std::string> names);
// True when the shell finds the program (an oracle that may be absent).
bool have_program(const std::string& name);
// The superuser writes through file permissions: a test of them runs
// again as the user nobody (setpriv). -1 when the calling process is to
// run the test itself; otherwise the exit status of the run as nobody
// (127 when it cannot be made).
int rerun_unprivileged();
// Path of a checked-in file under tests/data.
std::string data_file(const std::string& name);
// The source tree's root.
std::string source_dir();
// Path of the tamsel-dev executable.
std::string dev_tool();
// A fresh empty folder for the current test, removed at exit.
std::string temp_dir();
// Suite.Test of the running test, usable in a file name; outside a test,
// the given name.
std::string test_name(const std::string& outside);
// One folder for the whole current test: made (by temp_dir) on the first
// call of the test, the same one on every later call.
std::string test_dir();

// Runs a shell command, returns its exit status and (optionally) stdout.
int run(const std::string& cmd, std::string* out = nullptr);
// Quotes a string for /bin/sh.
std::string sh_quote(const std::string& s);
// Runs tamsel-dev with the given argument string; returns stdout lines.
int dev(const std::string& args, std::vector<std::string>* lines);

std::vector<uint8_t> read_file(const std::string& path);
bool write_file(const std::string& path, const std::vector<uint8_t>& data);
// True when a temporary file of a save into out (out.partial...) is left
// beside it.
bool partial_left(const std::string& out);
std::vector<std::string> split_lines(const std::string& text);
// Value of key=VALUE in a key=value record line; empty when absent.
std::string field(const std::string& line, const std::string& key);
long long field_int(const std::string& line, const std::string& key);

// PSNR in dB of two byte planes (99 for identical).
double psnr(const uint8_t* a, const uint8_t* b, size_t n);

// Collects trace messages while alive.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  const std::vector<std::string>& messages() const { return messages_; }
  bool contains(const std::string& needle) const;

 private:
  std::vector<std::string> messages_;
  TraceSink previous_;
};

}  // namespace tsupport

// Skips the test when a generated fixture is absent, so that a test run
// without the fixture script reports skips instead of reading empty files.
#define TSUPPORT_NEED_FIXTURES(...)                                                         \
  do {                                                                                    \
    const std::string tsupport_missing_ = ::tsupport::missing_fixture({__VA_ARGS__});     \
    if (!tsupport_missing_.empty()) GTEST_SKIP() << "missing fixture " << tsupport_missing_; \
  } while (0)
