#include "support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tsupport {

std::string fixtures_dir() {
  const char* env = std::getenv("TAMSEL_FIXTURES");
  return env && *env ? env : TAMSEL_FIXTURES_DIR;
}

std::string fixture(const std::string& name) {
  std::string path = fixtures_dir() + "/" + name;
  if (!fs::exists(path)) {
    ADD_FAILURE() << "missing fixture " << path << " (run tests/fixtures/make.sh)";
  }
  return path;
}

std::string missing_fixture(std::initializer_list<std::string> names) {
  for (const std::string& n : names)
    if (!fs::exists(fixtures_dir() + "/" + n)) return n;
  return {};
}

bool have_program(const std::string& name) { return run("command -v " + sh_quote(name) + " >/dev/null 2>&1") == 0; }

int rerun_unprivileged() {
  if (geteuid() != 0) return -1;
  if (!have_program("setpriv")) return 127;
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
  if (!t) return 127;
  const std::string filter = std::string(t->test_suite_name()) + "." + t->name();
  return run("setpriv --reuid=65534 --regid=65534 --clear-groups " + sh_quote(self) +
             " --gtest_filter=" + sh_quote(filter) + " >&2");
}

std::string data_file(const std::string& name) { return std::string(TAMSEL_SOURCE_DIR) + "/tests/data/" + name; }

std::string source_dir() { return TAMSEL_SOURCE_DIR; }

std::string dev_tool() {
  const char* env = std::getenv("TAMSEL_DEV");
  return env && *env ? env : "tamsel-dev";
}

namespace {
struct TempRoot {
  std::string path;
  TempRoot() {
    char tmpl[] = "/tmp/tamsel-test-XXXXXX";
    const char* p = mkdtemp(tmpl);
    path = p ? p : "/tmp";
  }
  ~TempRoot() {
    std::error_code ec;
    if (path != "/tmp") fs::remove_all(path, ec);
  }
};
}  // namespace

std::string test_name(const std::string& outside) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : outside;
  for (char& c : name)
    if (c == '/') c = '_';
  return name;
}

std::string temp_dir() {
  static TempRoot root;
  static std::mutex m;
  static int counter = 0;
  std::lock_guard<std::mutex> lock(m);
  std::string dir = root.path + "/" + test_name("t") + "-" + std::to_string(counter++);
  fs::create_directories(dir);
  return dir;
}

std::string test_dir() {
  static std::mutex m;
  static std::map<std::string, std::string> dirs;
  const std::string key = test_name("");
  {
    std::lock_guard<std::mutex> lock(m);
    const auto it = dirs.find(key);
    if (it != dirs.end()) return it->second;
  }
  const std::string dir = temp_dir();
  std::lock_guard<std::mutex> lock(m);
  return dirs.emplace(key, dir).first->second;
}

int run(const std::string& cmd, std::string* out) {
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = pclose(p);
  if (out) *out = std::move(text);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::string sh_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

int dev(const std::string& args, std::vector<std::string>* lines) {
  std::string out;
  int rc = run(sh_quote(dev_tool()) + " " + args, &out);
  if (lines) *lines = split_lines(out);
  return rc;
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

bool write_file(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(f);
}

bool partial_left(const std::string& out) {
  const fs::path p(out);
  const std::string prefix = p.filename().string() + ".partial";
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(p.has_parent_path() ? p.parent_path() : fs::path("."), ec))
    if (e.path().filename().string().rfind(prefix, 0) == 0) return true;
  return false;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string field(const std::string& line, const std::string& key) {
  const std::string k = key + "=";
  size_t at = 0;
  while ((at = line.find(k, at)) != std::string::npos) {
    if (at == 0 || line[at - 1] == ' ') {
      size_t v = at + k.size();
      if (key == "name") return line.substr(v);  // last field, may hold spaces
      size_t e = line.find(' ', v);
      return line.substr(v, e == std::string::npos ? std::string::npos : e - v);
    }
    at += k.size();
  }
  return "";
}

long long field_int(const std::string& line, const std::string& key) {
  std::string v = field(line, key);
  return v.empty() ? -1 : std::strtoll(v.c_str(), nullptr, 10);
}

double psnr(const uint8_t* a, const uint8_t* b, size_t n) {
  if (n == 0) return 99.0;
  double se = 0;
  for (size_t i = 0; i < n; ++i) {
    double d = double(a[i]) - double(b[i]);
    se += d * d;
  }
  if (se == 0) return 99.0;
  double mse = se / double(n);
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

TraceCapture::TraceCapture() {
  previous_ = trace_set_sink([this](const std::string& m) { messages_.push_back(m); });
}

TraceCapture::~TraceCapture() { trace_set_sink(std::move(previous_)); }

bool TraceCapture::contains(const std::string& needle) const {
  for (const auto& m : messages_)
    if (m.find(needle) != std::string::npos) return true;
  return false;
}

}  // namespace tsupport
