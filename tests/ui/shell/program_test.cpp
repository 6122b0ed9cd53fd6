// The program itself, started as a user would (on the offscreen
// platform): SIGTERM runs the close and exits 0 with the settings written;
// without a configuration folder it says so in one line, keeps the
// defaults and still exits 0.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "support.h"

namespace {

std::string program() {
  const char* p = std::getenv("TAMSEL_APP");
  return p ? p : "";
}

// Whether the process catches SIGTERM yet (its handler is installed).
bool catches_term(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1;
  return false;
}

struct ProgramRun {
  int status = -1;
  std::string err;
};

// Starts the program with the configuration folder, sends SIGTERM once it
// is caught, and waits for the end.
ProgramRun run_and_terminate(const std::string& config, const std::vector<std::string>& args) {
  const std::string dir = tsupport::test_dir();
  const std::string err_file = dir + "/stderr.txt";
  const std::string runtime = dir + "/runtime";
  ::mkdir(runtime.c_str(), 0700);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("TAMSEL_CONFIG_DIR", config.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    // The offscreen platform's own notes ("does not support ...") are no
    // words of the program.
    ::setenv("QT_LOGGING_RULES", "default.warning=false", 1);
    std::FILE* f = std::freopen(err_file.c_str(), "w", stderr);
    (void)f;
    std::vector<char*> argv;
    std::string prog = program();
    argv.push_back(prog.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(prog.c_str(), argv.data());
    ::_exit(127);
  }
  ProgramRun r;
  // Waits for the handler, not for a time: the program installs it first.
  for (int i = 0; i < 2000 && !catches_term(pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ::kill(pid, SIGTERM);
  ::waitpid(pid, &r.status, 0);
  std::ifstream in(err_file);
  std::stringstream s;
  s << in.rdbuf();
  r.err = s.str();
  return r;
}

TEST(Program, TerminateClosesAndWritesSettings) {
  if (program().empty()) GTEST_SKIP() << "TAMSEL_APP not set";
  const std::string config = tsupport::test_dir() + "/config";
  ProgramRun r = run_and_terminate(config, {});
  ASSERT_TRUE(WIFEXITED(r.status)) << r.status;
  EXPECT_EQ(WEXITSTATUS(r.status), 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::ifstream cfg(config + "/MPEG-Tamsel.cfg");
  std::string first;
  std::getline(cfg, first);
  EXPECT_EQ(first, "#");
}

TEST(Program, UncreatableConfigFolderRunsOnDefaults) {
  if (program().empty()) GTEST_SKIP() << "TAMSEL_APP not set";
  const std::string file = tsupport::test_dir() + "/plain-file";
  std::ofstream(file) << "x";
  ProgramRun r = run_and_terminate(file + "/config", {});
  ASSERT_TRUE(WIFEXITED(r.status)) << r.status;
  EXPECT_EQ(WEXITSTATUS(r.status), 0) << r.err;
  // One line, naming the folder.
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find(file + "/config"), std::string::npos) << r.err;
}

}  // namespace
