// The process-wide GOP index cache: copies come from memory, what a copy
// learns is merged back, and a changed file gets a new entry.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "demux/goplist_cache.h"
#include "support/support.h"

namespace {

using namespace tsupport;

int records(const GOPList& l) {
  int n = 0;
  for (const LGOP* r = l.first(); r; r = r->next) ++n;
  return n;
}

TEST(GoplistCache, CopiesComeFromMemoryAndLearnedGopsMergeBack) {
  const std::string dir = temp_dir();
  const std::string file = dir + "/long.m2v";
  ASSERT_EQ(run("cp " + sh_quote(fixture("fa_long.m2v")) + " " + sh_quote(file)), 0);
  GoplistCache& cache = GoplistCache::instance();
  const int built = cache.built_count();

  GOPList a;
  ASSERT_EQ(GoplistCache::take_from_cache(&a, file.c_str(), 0, 0), 0);
  EXPECT_EQ(cache.built_count(), built + 1);
  const int initial = records(a);
  {
    GOPList b;
    ASSERT_EQ(GoplistCache::take_from_cache(&b, file.c_str(), 0, 0), 0);
    EXPECT_EQ(cache.built_count(), built + 1) << "a second copy must not index the file again";
    EXPECT_EQ(b.get_parse_count(), 0);
    ASSERT_EQ(records(b), initial);
    for (const LGOP *x = a.first(), *y = b.first(); x && y; x = x->next, y = y->next) EXPECT_EQ(x->equals(*y), 0);
    // Learn a GOP in the middle, then give it back.
    GOP g;
    ASSERT_GT(b.get_gop(250, &g, 0, 1), 0);
    ASSERT_GT(records(b), initial);
    cache.update(&b);
  }
  GOPList c;
  ASSERT_EQ(GoplistCache::take_from_cache(&c, file.c_str(), 0, 0), 0);
  EXPECT_GT(records(c), initial) << "a later copy starts with what earlier copies learnt";

  // A touched file no longer matches its entry.
  struct utimbuf t = {1000000000, 1000000000};
  ASSERT_EQ(utime(file.c_str(), &t), 0);
  GOPList d;
  ASSERT_EQ(GoplistCache::take_from_cache(&d, file.c_str(), 0, 0), 0);
  EXPECT_EQ(cache.built_count(), built + 2);
}

TEST(GoplistCache, ThreadsTakingUpdatingAndClearingAgree) {
  // Copies, merges back and clears racing on one entry (run under
  // ThreadSanitizer by scripts/tsan.sh): every copy is a whole index.
  const std::string file = fixture("long60.m2v");
  GoplistCache& cache = GoplistCache::instance();
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&, t] {
      std::mt19937 rng{unsigned(t)};
      for (int i = 0; i < 8; ++i) {
        if (t == 0 && i == 4) cache.clear();
        GOPList l;
        if (GoplistCache::take_from_cache(&l, file.c_str(), 0, 0) != 0 || !l.get_demuxer()) {
          ++bad;
          continue;
        }
        GOP g;
        const int frame = int(rng() % 1500);
        l.get_gop(frame, &g, 0, 1);
        if (!(l.current() && l.current()->first_frame() <= frame && frame < l.current()->end_frame())) ++bad;
        if (l.get_total_frames() != 1500) ++bad;
        cache.update(&l);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST(GoplistScan, RenumbersRepeatedFieldsAndScansWholeStreams) {
  // pd.m2v: 48 pictures, 24 of them with repeat_first_field: 120 fields.
  GOPList pd;
  ASSERT_EQ(GoplistCache::take_from_cache(&pd, fixture("pd.m2v").c_str(), 0, 0), 0);
  EXPECT_EQ(goplist_scan_to_time(&pd, 0), 60);
  EXPECT_EQ(pd.get_total_frames(), 60);
  int expect = 0;
  for (const LGOP* r = pd.first(); r; r = r->next) {
    EXPECT_EQ(r->first_field, expect);
    expect = r->first_field + r->total_fields;
  }
  EXPECT_EQ(expect, 120);
  GOPList m;
  ASSERT_EQ(GoplistCache::take_from_cache(&m, fixture("m2c.m2v").c_str(), 0, 0), 0);
  EXPECT_EQ(goplist_scan(&m, 0, 0), 75);
  const int part = goplist_scan(&m, 0, 20);  // stops at the first GOP end past 20 frames
  EXPECT_GE(part, 20);
  EXPECT_LT(part, 20 + 13);
}

TEST(GoplistCache, FailuresAreRefused) {
  GOPList l;
  EXPECT_EQ(GoplistCache::take_from_cache(&l, "/nonexistent/file.m2v", 0, 0), 1);
  TraceCapture trace;
  GoplistCache::instance().update(nullptr);
  EXPECT_TRUE(trace.contains("ERROR (GoplistCache::update): goplist=nil\n"));
  GoplistCache::instance().remove(100000);
  EXPECT_TRUE(trace.contains("ERROR (GoplistCache::remove): index = 100000\n"));
}

}  // namespace
