#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/bsfile.h"
#include "support/support.h"

namespace {

using tsupport::run;
using tsupport::sh_quote;

constexpr uint64_t k31 = 1ull << 31;
constexpr uint64_t k32 = 1ull << 32;
constexpr uint64_t kBig = 5ull << 30;       // 5 GiB
constexpr uint64_t kHalf = 9ull << 29;      // 4.5 GiB

std::atomic<int> g_flushes{0};
void count_flush(int) { ++g_flushes; }

// Installs the counting flush for one test, so no test syncs the disk.
struct FlushCounter {
  BSFlushFunction old;
  FlushCounter() : old(bsfile_set_flush_function(count_flush)) { g_flushes = 0; }
  ~FlushCounter() { bsfile_set_flush_function(old); }
};

uint64_t file_size(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : ~0ull;
}

// The OS's view of bytes at an offset (dd), independent of our layer.
std::string dd_read(const std::string& path, uint64_t at, int n) {
  std::string out;
  run("dd if=" + sh_quote(path) + " bs=1 skip=" + std::to_string(at) + " count=" + std::to_string(n) +
          " status=none",
      &out);
  return out;
}

void dd_write(const std::string& path, uint64_t at, const std::string& bytes) {
  ASSERT_EQ(run("printf %s " + sh_quote(bytes) + " | dd of=" + sh_quote(path) + " bs=1 seek=" + std::to_string(at) +
                " conv=notrunc status=none"),
            0);
}

std::string read_at(BSFile& f, uint64_t at, int n, int whence = 0) {
  f.seek(FileOffset::from_u64(at), whence);
  std::string s(size_t(n), '\0');
  s.resize(f.read(s.data(), s.size()));
  return s;
}

std::string make_file(const std::string& dir, const std::string& name, size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i % 251);
  const std::string path = dir + "/" + name;
  tsupport::write_file(path, v);
  return path;
}

// A sparse 5 GiB file with markers across 2^31 and 2^32 and at 4.5 GiB,
// placed by the OS tools.
class BSFileBig : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = tsupport::temp_dir() + "/big.bin";
    ASSERT_EQ(run("truncate -s 5G " + sh_quote(path_)), 0);
    dd_write(path_, k31 - 2, "MARK");
    dd_write(path_, k32 + 7, "FOUR");
    dd_write(path_, kHalf, "HALF");
  }
  void TearDown() override { std::filesystem::remove(path_); }
  std::string path_;
};

TEST_F(BSFileBig, ReadsAcross31And32BitBoundaries) {
  int err = -1;
  BSFile f(path_.c_str(), 1, &err);
  ASSERT_EQ(err, 0);
  EXPECT_EQ(f.size().low(), 1u << 30);
  EXPECT_EQ(f.size().high(), 2u);
  EXPECT_EQ(f.size().value(), kBig);

  EXPECT_EQ(read_at(f, k31 - 2, 4), "MARK");
  EXPECT_EQ(f.tell().value(), k31 + 2);
  EXPECT_EQ(read_at(f, k32 + 7, 4), "FOUR");
  EXPECT_EQ(read_at(f, kHalf, 4), "HALF");
  // whence 2 counts back from the size at open; whence 1 is absolute.
  EXPECT_EQ(read_at(f, kBig - kHalf, 4, 2), "HALF");
  EXPECT_EQ(read_at(f, k31 - 2, 4, 1), "MARK");
  // One read spanning 2^32: zeros, then the marker.
  EXPECT_EQ(read_at(f, k32 - 1, 12), std::string(8, '\0') + "FOUR");

  // Seek to the size and tell it back unchanged; nothing more to read.
  EXPECT_EQ(f.seek(f.size(), 0), f.size());
  EXPECT_EQ(f.tell(), f.size());
  char c;
  EXPECT_EQ(f.read(&c, 1), 0u);
  EXPECT_EQ(f.tell(), f.size());
}

TEST_F(BSFileBig, WritesAcross31And32BitBoundaries) {
  FlushCounter no_sync;
  {
    int err = -1;
    BSFile f(path_.c_str(), 3, &err);
    ASSERT_EQ(err, 0);
    for (uint64_t at : {k31 - 1, k32 - 2}) {
      f.seek(FileOffset::from_u64(at), 0);
      ASSERT_EQ(f.write("wxyz", 4), 4u);
      EXPECT_EQ(f.tell().value(), at + 4);
    }
  }
  EXPECT_EQ(dd_read(path_, k31 - 2, 6), std::string("Mwxyz\0", 6));
  EXPECT_EQ(dd_read(path_, k32 - 2, 4), "wxyz");
  EXPECT_EQ(file_size(path_), kBig);  // update mode never truncates

  // Mode 4 starts at the end; writing there grows the file.
  int err = -1;
  BSFile f(path_.c_str(), 4, &err);
  ASSERT_EQ(err, 0);
  EXPECT_EQ(f.tell().value(), kBig);
  ASSERT_EQ(f.write("END", 3), 3u);
  f.close();
  EXPECT_EQ(file_size(path_), kBig + 3);
  EXPECT_EQ(dd_read(path_, kBig, 3), "END");
}

TEST(BSFile, OpenModes) {
  FlushCounter no_sync;
  const std::string dir = tsupport::temp_dir();
  const std::string path = make_file(dir, "f.bin", 1000);
  const std::string missing = dir + "/missing.bin";
  struct Case {
    const char* name;
    int mode;
    int code;
  } cases[] = {
      {nullptr, 1, 1}, {"", 1, 1},  {path.c_str(), 0, 5}, {path.c_str(), 7, 5},
      {missing.c_str(), 1, 5},      {missing.c_str(), 3, 5}, {missing.c_str(), 4, 5},
      {dir.c_str(), 1, 5},  // a folder is not a media file
  };
  for (const auto& c : cases) {
    int err = -1;
    BSFile f(c.name, c.mode, &err);
    EXPECT_EQ(err, c.code) << (c.name ? c.name : "(null)") << " mode " << c.mode;
    EXPECT_FALSE(f.is_open());
    EXPECT_EQ(f.name(), nullptr);
  }

  {  // 1: read only, size at open, no writes
    int err = -1;
    BSFile f(path.c_str(), 1, &err);
    ASSERT_EQ(err, 0);
    EXPECT_STREQ(f.name(), path.c_str());
    EXPECT_EQ(f.size().value(), 1000u);
    EXPECT_EQ(f.tell().value(), 0u);
    EXPECT_EQ(f.write("x", 1), 0u);
    uint8_t b[3];
    EXPECT_EQ(f.read(b, 3), 3u);
    EXPECT_EQ(b[2], 2);
  }
  {  // 3: in place at the start, no truncation; the size stays the one at open
    BSFile f(path.c_str(), 3);
    ASSERT_TRUE(f.is_open());
    EXPECT_EQ(f.tell().value(), 0u);
    EXPECT_EQ(f.write("abc", 3), 3u);
    f.seek(FileOffset(1200), 0);
    EXPECT_EQ(f.write("z", 1), 1u);
    EXPECT_EQ(f.size().value(), 1000u);
  }
  EXPECT_EQ(file_size(path), 1201u);
  EXPECT_EQ(dd_read(path, 0, 4), std::string("abc") + char(3));
  {  // 4: starts at the end, but writes go to the position (not append-only)
    BSFile f(path.c_str(), 4);
    ASSERT_TRUE(f.is_open());
    EXPECT_EQ(f.tell().value(), 1201u);
    EXPECT_EQ(f.write("xyz", 3), 3u);
    f.seek(FileOffset(0), 0);
    EXPECT_EQ(f.write("Q", 1), 1u);
  }
  EXPECT_EQ(file_size(path), 1204u);
  EXPECT_EQ(dd_read(path, 0, 1), "Q");
  EXPECT_EQ(dd_read(path, 1201, 3), "xyz");
  {  // 2: truncates an existing file, size 0
    BSFile f(path.c_str(), 2);
    ASSERT_TRUE(f.is_open());
    EXPECT_EQ(file_size(path), 0u);
    EXPECT_EQ(f.size().value(), 0u);
    EXPECT_EQ(f.write("hello", 5), 5u);
    char c;
    EXPECT_EQ(f.read(&c, 1), 0u);  // write-only
  }
  EXPECT_EQ(dd_read(path, 0, 5), "hello");
  {  // 2 creates a missing file
    BSFile f(missing.c_str(), 2);
    EXPECT_TRUE(f.is_open());
  }
  EXPECT_EQ(file_size(missing), 0u);
}

TEST(BSFile, FailedOpenLeaksNoDescriptor) {
  auto open_fds = [] {
    int n = 0;
    for (auto& e : std::filesystem::directory_iterator("/proc/self/fd")) (void)e, ++n;
    return n;
  };
  const std::string dir = tsupport::temp_dir();
  const int before = open_fds();
  for (int i = 0; i < 20; ++i) {
    int err = -1;
    BSFile f(dir.c_str(), 1, &err);  // opens, then is refused after the status query
    EXPECT_EQ(err, 5);
  }
  EXPECT_EQ(open_fds(), before);
}

TEST(BSFile, SeekWhenceRules) {
  const std::string path = make_file(tsupport::temp_dir(), "k.bin", 1000);
  BSFile f(path.c_str(), 1);
  ASSERT_TRUE(f.is_open());
  EXPECT_EQ(f.seek(FileOffset(100), 2).value(), 900u);
  EXPECT_EQ(f.seek(FileOffset(2000), 2).value(), 0u);  // never before the start
  f.seek(FileOffset(500), 0);
  uint8_t b[10];
  ASSERT_EQ(f.read(b, 10), 10u);
  EXPECT_EQ(f.seek(FileOffset(100), 1).value(), 100u);  // absolute, not relative
  EXPECT_EQ(f.tell().value(), 100u);
  // Short read at the end: the position moves by what was read.
  f.seek(FileOffset(995), 0);
  EXPECT_EQ(f.read(b, 10), 5u);
  EXPECT_EQ(f.tell().value(), 1000u);
}

TEST(BSFile, NothingOpen) {
  BSFile f;
  char c = 0;
  EXPECT_EQ(f.read(&c, 1), 0u);
  EXPECT_EQ(f.write(&c, 1), 0u);
  EXPECT_EQ(f.seek(FileOffset(5), 0).value(), 0u);
  EXPECT_EQ(f.tell().value(), 0u);
  EXPECT_EQ(f.size().value(), 0u);
  EXPECT_EQ(f.kind(), BSFile::Kind::none);
  // Without an error pointer the plain back end opens nothing.
  BSFBase b("x", 1, nullptr);
  EXPECT_FALSE(b.is_open());
}

TEST(BSFile, MoveHandsTheFileOver) {
  const std::string path = make_file(tsupport::temp_dir(), "m.bin", 300);
  BSFile a(path.c_str(), 1);
  a.seek(FileOffset(250), 0);
  BSFile b;
  b = std::move(a);
  EXPECT_FALSE(a.is_open());
  EXPECT_EQ(a.name(), nullptr);
  ASSERT_TRUE(b.is_open());
  EXPECT_EQ(b.tell().value(), 250u);
  uint8_t buf[100];
  EXPECT_EQ(b.read(buf, sizeof buf), 50u);
  BSFile c(std::move(b));
  EXPECT_EQ(c.size().value(), 300u);
  EXPECT_STREQ(c.name(), path.c_str());
}

TEST(BSFile, FlushesOncePerFourMebibytes) {
  FlushCounter counter;
  const std::string dir = tsupport::temp_dir();
  std::vector<uint8_t> data(5000000, 0x5A);
  {
    BSFile f((dir + "/one.bin").c_str(), 2);
    ASSERT_EQ(f.write(data.data(), data.size()), data.size());
    EXPECT_EQ(g_flushes.load(), 1);
    EXPECT_EQ(f.plain()->unflushed(), 0u);
  }
  g_flushes = 0;
  {
    BSFile f((dir + "/chunks.bin").c_str(), 2);
    for (size_t at = 0; at < data.size(); at += 1000) ASSERT_EQ(f.write(data.data() + at, 1000), 1000u);
    EXPECT_EQ(g_flushes.load(), 1);
    // The counter restarts at 0 after the flush at 4,195,000 bytes.
    EXPECT_EQ(f.plain()->unflushed(), 5000000u - 4195000u);
  }
  EXPECT_EQ(file_size(dir + "/chunks.bin"), 5000000u);
}

// The default flush starts write-back on whole windows a window behind the
// write position, so the pages being filled are never under write-back; a
// writer that moves back follows from there.
TEST(BSFile, WriteBackLagsOneWindow) {
  const std::string dir = tsupport::temp_dir();
  std::vector<uint8_t> data(3 << 20, 0x33);
  int err = 0;
  BSFile f((dir + "/lag.bin").c_str(), 2, &err);
  ASSERT_EQ(err, 0);
  const uint64_t w = kBSWriteBackWindow;
  struct Step {
    uint64_t end;
    uint64_t started;
  };
  // Positions up to end in 3 MiB writes; a flush falls every second write.
  const Step steps[] = {{w, 0}, {2 * w - (3 << 20), 0}, {2 * w + (3 << 20), w}, {5 * w + (4 << 20), 4 * w}};
  for (const Step& s : steps) {
    while (f.tell().value() + data.size() <= s.end) ASSERT_EQ(f.write(data.data(), data.size()), data.size());
    EXPECT_EQ(f.plain()->written_back(), s.started) << "at " << f.tell().value();
  }
  // Rewriting near the start: the next flush starts from there again.
  f.seek(FileOffset::from_u64(0), 0);
  while (f.tell().value() < 3 * w) ASSERT_EQ(f.write(data.data(), data.size()), data.size());
  EXPECT_EQ(f.plain()->written_back(), 2 * w);
  f.close();
  EXPECT_EQ(file_size(dir + "/lag.bin"), 5 * w + (2 << 20));
}

TEST(BSFile, ShortWriteIsReported) {
  FlushCounter no_sync;
  tsupport::TraceCapture trace;
  // A device that is always full: nothing written. Mode 3 so that nothing
  // is ever created in /dev when the device is missing.
  struct stat st {};
  if (::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode)) {
    int err = -1;
    BSFile f("/dev/full", 3, &err);
    ASSERT_EQ(err, 0);
    EXPECT_EQ(f.write("abcd", 4), 0u);
    EXPECT_EQ(f.tell().value(), 0u);
    EXPECT_TRUE(trace.contains("BSFBase::write (ERROR)"));
  }

  // A file-size limit stops the write part way: the count says so.
  const std::string path = tsupport::temp_dir() + "/limited.bin";
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit lim = old;
  lim.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
  size_t wrote;
  FileOffset pos;
  {
    BSFile f(path.c_str(), 2);
    std::vector<uint8_t> data(10000, 1);
    wrote = f.write(data.data(), data.size());
    pos = f.tell();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(wrote, 4096u);
  EXPECT_EQ(pos.value(), 4096u);
  EXPECT_EQ(file_size(path), 4096u);
}

}  // namespace
