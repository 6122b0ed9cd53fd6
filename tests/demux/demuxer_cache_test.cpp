// demuxer_create: one measured entry per file, copies for every caller,
// rebuilt when the file changes; safe from several threads.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <fcntl.h>

#include <memory>
#include <atomic>
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

TEST(DemuxerCache, ThreadsMixingFilesChangesAndClearsStayConsistent) {
  // Copies, rebuilds after a change and clears racing on shared entries
  // (run under ThreadSanitizer by scripts/tsan.sh).
  const std::string a = copy_fixture("m2c.m2v", "ha.m2v");
  const std::string b = copy_fixture("mp2_44100.mp2", "hb.mp2");
  std::unique_ptr<DeMuxer> ref_a(demuxer_create(a.c_str(), 0)), ref_b(demuxer_create(b.c_str(), 0));
  ASSERT_TRUE(ref_a && ref_b);
  const double len_a = ref_a->get_total_length(), len_b = ref_b->get_total_length();
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 12; ++i) {
        if (t == 0 && i % 4 == 3) DeMuxerCache::instance().clear();
        if (t == 1 && i % 4 == 1) set_mtime(a, 3000000 + i);  // the entry of a goes stale
        const bool use_a = (t + i) % 2 == 0;
        std::unique_ptr<DeMuxer> d(demuxer_create((use_a ? a : b).c_str(), 0));
        if (!d || !d->is_open() || d->get_total_length() != (use_a ? len_a : len_b)) ++bad;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(bad.load(), 0);
  std::unique_ptr<char, decltype(&free)> full(realpath(a.c_str(), nullptr), &free);
  EXPECT_LE(DeMuxerCache::instance().count_of(full.get()), 1);
}

TEST(DemuxerCache, RefusedFiles) {
  EXPECT_FALSE(demuxer_create("/nonexistent/file.m2v", 0));
  EXPECT_FALSE(demuxer_create(nullptr, 0));
}

TEST(DemuxerCache, TransportStreamCopiesKeepTheirTables) {
  std::unique_ptr<DeMuxer> a(demuxer_create(fixture("st_ts.ts").c_str(), 0));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->get_stream_type(), 8);
  // The second comes from the cache: a copy with the same streams.
  std::unique_ptr<DeMuxer> b(demuxer_create(fixture("st_ts.ts").c_str(), 0));
  ASSERT_TRUE(b);
  int na = 0, nb = 0;
  ESData* ea = a->get_es_data(&na);
  ESData* eb = b->get_es_data(&nb);
  ASSERT_EQ(na, nb);
  for (int i = 0; i < na; ++i) EXPECT_EQ(ea[i].pid, eb[i].pid);
  GOP ga, gb;
  a->goto_offset(FileOffset(0u));
  b->goto_offset(FileOffset(0u));
  EXPECT_GT(a->parse_gop(&ga, 0, 0, 0), 0);
  EXPECT_EQ(b->parse_gop(&gb, 0, 0, 0), ga.pic_count);
  EXPECT_EQ(gb.byte_length, ga.byte_length);
}

}  // namespace
