// File-to-file copies of the file layer: the bytes of the source range land
// at the output's position, a source that ends early gives fewer, a list of
// files copies through its own reads, and a full or limited output reports
// the bytes that really arrived.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <string>
#include <vector>

#include "foundation/bsfile.h"
#include "support/support.h"

namespace {

std::atomic<int> g_flushes{0};
void count_flush(int) { ++g_flushes; }

struct NoSync {
  BSFlushFunction old;
  NoSync() : old(bsfile_set_flush_function(count_flush)) { g_flushes = 0; }
  ~NoSync() { bsfile_set_flush_function(old); }
};

std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    v[i] = uint8_t(seed >> 16);
  }
  return v;
}

TEST(BSFileCopy, RangesOfPlainFilesAndLists) {
  NoSync no_sync;
  const std::string dir = tsupport::temp_dir();
  const std::vector<uint8_t> a = pattern(4500000, 1), b = pattern(300000, 2);
  ASSERT_TRUE(tsupport::write_file(dir + "/a.bin", a));
  ASSERT_TRUE(tsupport::write_file(dir + "/b.bin", b));
  ASSERT_TRUE(tsupport::write_file(dir + "/ab.mbs", [&] {
    const std::string t = "[MBSFile]\nNumFile= 2\nFile= " + dir + "/a.bin\nFile= " + dir + "/b.bin\n";
    return std::vector<uint8_t>(t.begin(), t.end());
  }()));
  std::vector<uint8_t> want = {'h', 'e', 'a', 'd'};
  {
    int err = 0;
    BSFile src((dir + "/a.bin").c_str(), 1, &err);
    ASSERT_EQ(err, 0);
    BSFile out((dir + "/out.bin").c_str(), 2, &err);
    ASSERT_EQ(err, 0);
    ASSERT_EQ(out.write(want.data(), want.size()), want.size());
    src.seek(FileOffset::from_u64(77), 0);
    // Past the flush interval: the copy counts as written data.
    EXPECT_EQ(out.copy_from(src, FileOffset::from_u64(12345), 4300000), 4300000u);
    EXPECT_EQ(src.tell().value(), 77u);
    EXPECT_EQ(out.tell().value(), 4300004u);
    EXPECT_GE(g_flushes.load(), 1);
    want.insert(want.end(), a.begin() + 12345, a.begin() + 12345 + 4300000);
    // The source ends first: only what it holds.
    EXPECT_EQ(out.copy_from(src, FileOffset::from_u64(a.size() - 100), 1000), 100u);
    want.insert(want.end(), a.end() - 100, a.end());
    // A list: across the join of its members.
    BSFile list((dir + "/ab.mbs").c_str(), 1, &err);
    ASSERT_EQ(err, 0);
    ASSERT_EQ(list.kind(), BSFile::Kind::multi);
    EXPECT_EQ(out.copy_from(list, FileOffset::from_u64(a.size() - 50), 150), 150u);
    want.insert(want.end(), a.end() - 50, a.end());
    want.insert(want.end(), b.begin(), b.begin() + 100);
    EXPECT_EQ(list.tell().value(), 0u);
  }
  EXPECT_TRUE(tsupport::read_file(dir + "/out.bin") == want);
}

TEST(BSFileCopy, FullOrLimitedOutputReportsWhatArrived) {
  NoSync no_sync;
  tsupport::TraceCapture trace;
  const std::string dir = tsupport::temp_dir();
  ASSERT_TRUE(tsupport::write_file(dir + "/a.bin", pattern(100000, 3)));
  int err = 0;
  BSFile src((dir + "/a.bin").c_str(), 1, &err);
  ASSERT_EQ(err, 0);
  struct stat st {};
  if (::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode)) {
    BSFile full("/dev/full", 3, &err);
    ASSERT_EQ(err, 0);
    EXPECT_EQ(full.copy_from(src, FileOffset(), 10000), 0u);
  }
  // A file-size limit stops the copy part way.
  const std::string path = dir + "/limited.bin";
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit lim = old;
  lim.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
  size_t wrote;
  {
    BSFile out(path.c_str(), 2);
    wrote = out.copy_from(src, FileOffset(), 10000);
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(wrote, 4096u);
  struct stat ls {};
  ASSERT_EQ(::stat(path.c_str(), &ls), 0);
  EXPECT_EQ(ls.st_size, 4096);
}

}  // namespace
