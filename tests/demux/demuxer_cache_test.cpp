// demuxer_create: one measured entry per file, copies for every caller,
// rebuilt when the file changes; safe from several threads.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <fcntl.h>

#include <memory>
#include <thread>

#include "demux/demuxer_cache.h"
#include "support/support.h"

namespace {

using namespace tsupport;

std::string copy_fixture(const std::string& name, const std::string& as) {
  const std::string path = temp_dir() + "/" + as;
  EXPECT_TRUE(write_file(path, read_file(fixture(name))));
  return path;
}

void set_mtime(const std::string& path, long seconds) {
  struct timespec t[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
}

TEST(DemuxerCache, SecondOpenIsACopyWithoutParsing) {
  const std::string path = copy_fixture("m2c.m2v", "a.m2v");
  std::unique_ptr<DeMuxer> a(demuxer_create(path.c_str(), 0));
  ASSERT_TRUE(a);
  const long parsed = DeMuxer::parse_gop_count();
  std::unique_ptr<DeMuxer> b(demuxer_create(path.c_str(), 0));
  ASSERT_TRUE(b);
  EXPECT_EQ(DeMuxer::parse_gop_count(), parsed);
  EXPECT_EQ(b->get_total_length(), a->get_total_length());
  EXPECT_EQ(b->get_stream_type(), 3);
  EXPECT_TRUE(b->is_open());
  // The flag is not part of the key.
  std::unique_ptr<DeMuxer> c(demuxer_create(path.c_str(), 1));
  EXPECT_EQ(DeMuxer::parse_gop_count(), parsed);
  std::unique_ptr<char, decltype(&free)> full(realpath(path.c_str(), nullptr), &free);
  EXPECT_EQ(DeMuxerCache::instance().count_of(full.get()), 1);
}

TEST(DemuxerCache, ChangedFileIsMeasuredAgain) {
  const std::string path = copy_fixture("m2c.m2v", "b.m2v");
  std::unique_ptr<char, decltype(&free)> full(realpath(path.c_str(), nullptr), &free);
  set_mtime(path, 1000000);
  std::unique_ptr<DeMuxer> a(demuxer_create(path.c_str(), 0));
  ASSERT_TRUE(a);
  long parsed = DeMuxer::parse_gop_count();
  set_mtime(path, 2000000);  // touched
  std::unique_ptr<DeMuxer> b(demuxer_create(path.c_str(), 0));
  ASSERT_TRUE(b);
  EXPECT_GT(DeMuxer::parse_gop_count(), parsed);
  EXPECT_EQ(DeMuxerCache::instance().count_of(full.get()), 1);

  // Grown by a second copy of the stream, keeping the time: the size tells.
  auto bytes = read_file(path);
  auto doubled = bytes;
  doubled.insert(doubled.end(), bytes.begin(), bytes.end());
  ASSERT_TRUE(write_file(path, doubled));
  set_mtime(path, 2000000);
  parsed = DeMuxer::parse_gop_count();
  std::unique_ptr<DeMuxer> c(demuxer_create(path.c_str(), 0));
  ASSERT_TRUE(c);
  EXPECT_GT(DeMuxer::parse_gop_count(), parsed);
  EXPECT_EQ(c->get_file_size().value(), doubled.size());
  EXPECT_EQ(DeMuxerCache::instance().count_of(full.get()), 1);
}

TEST(DemuxerCache, ThreadsOpeningAtOnceLeaveOneEntry) {
  const std::string path = copy_fixture("m2c.m2v", "c.m2v");
  std::unique_ptr<char, decltype(&free)> full(realpath(path.c_str(), nullptr), &free);
  std::unique_ptr<DeMuxer> got[4];
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { got[i].reset(demuxer_create(path.c_str(), 0)); });
  for (auto& t : threads) t.join();
  for (auto& d : got) {
    ASSERT_TRUE(d);
    EXPECT_NEAR(d->get_total_length(), 3.0, 1e-9);
  }
  EXPECT_EQ(DeMuxerCache::instance().count_of(full.get()), 1);
}

TEST(DemuxerCache, RefusedFiles) {
  TraceCapture trace;
  EXPECT_FALSE(demuxer_create("/nonexistent/file.m2v", 0));
  EXPECT_FALSE(demuxer_create(nullptr, 0));
  // Transport and program streams have no demultiplexer yet.
  EXPECT_FALSE(demuxer_create(fixture("st_ts.ts").c_str(), 0));
  EXPECT_TRUE(trace.contains("stream type 8"));
}

}  // namespace
