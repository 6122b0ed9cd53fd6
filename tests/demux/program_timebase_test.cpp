// Program streams whose clock falls back: the time-base check leaves the
// stream as it was when the fall is not usable, and of several fall scans
// the richest table is kept.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "demux/demuxer_cache.h"
#include "demux/program.h"
#include "support/pes_stamps.h"
#include "support/support.h"

namespace {

using namespace tsupport;

DeMuxerProgram* as_program(DeMuxer* d) { return dynamic_cast<DeMuxerProgram*>(d); }

// Moves every PTS and DTS of the audio and video PES packets from offset
// `from` on by `ticks`.
void shift_stamps(std::vector<uint8_t>* b, size_t from, int64_t ticks) {
  std::vector<uint8_t>& d = *b;
  for (size_t i = from; i + 19 <= d.size(); ++i) {
    if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
    const int id = d[i + 3];
    if (id < 0xC0 || id > 0xEF || (d[i + 6] & 0xC0) != 0x80) continue;
    const int flags = d[i + 7] >> 6;
    if (flags & 2) write_stamp(&d[i + 9], read_stamp(&d[i + 9]) + ticks);
    if (flags == 3) write_stamp(&d[i + 14], read_stamp(&d[i + 14]) + ticks);
  }
}

// Two recordings joined, the second's time stamps 200 s ahead of its clock:
// the clock falls once, but across the fall the stamps span far more than
// the file's length. The check refuses the fall and must leave the last
// GOP's time as the file gives it.
TEST(ProgramTimeBase, UnusableFallLeavesTheLastGopAsItWas) {
  std::vector<uint8_t> bytes = read_file(fixture("ps_join.mpg"));
  const size_t join = read_file(fixture("ps_join1.mpg")).size();
  ASSERT_GT(bytes.size(), join);
  const int64_t shift = 200 * 90000;
  shift_stamps(&bytes, join, shift);
  const std::string far = temp_dir() + "/far.mpg";
  ASSERT_TRUE(write_file(far, bytes));

  std::unique_ptr<DeMuxer> second(demuxer_create(fixture("ps_join2.mpg").c_str(), 0));
  ASSERT_TRUE(second);
  const GOP* alone = second->get_last_gop_record();
  ASSERT_TRUE(alone);
  std::unique_ptr<DeMuxer> d(demuxer_create(far.c_str(), 0));
  ASSERT_TRUE(d);
  DeMuxerProgram* p = as_program(d.get());
  ASSERT_TRUE(p);
  EXPECT_EQ(p->get_vro_delta(), 0.0);
  EXPECT_TRUE(p->get_segments().empty());
  const GOP* last = d->get_last_gop_record();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->pts, alone->pts + double(shift));
}

// Scripted scans: the count of falls each window count finds.
struct ScanCase {
  const char* name;
  std::vector<std::pair<int, int>> found;  // windows, falls found
  int kept;                                // falls of the table kept
  int scans;                               // scans run
};

TEST(ProgramTimeBase, RichestFallScanIsKept) {
  const ScanCase cases[] = {
      {"few falls: one scan", {{32, 5}}, 5, 1},
      {"finer finds fewer", {{32, 20}, {64, 12}}, 20, 2},
      {"finer finds more, then fewer", {{32, 20}, {64, 40}, {128, 30}}, 40, 3},
      {"finer finds as many", {{32, 20}, {64, 20}}, 20, 2},
      {"tries run out", {{32, 20}, {64, 40}, {128, 80}}, 80, 3},
  };
  for (const ScanCase& c : cases) {
    int scans = 0;
    const auto scan = [&](int windows) {
      std::vector<CutoffSegment> t;
      for (const auto& [w, n] : c.found)
        if (w == windows) {
          t.resize(size_t(n));
          for (int i = 0; i < n; ++i) t[size_t(i)].start = FileOffset::from_u64(uint64_t(i) * 2048 + uint64_t(w));
        }
      ++scans;
      return t;
    };
    const std::vector<CutoffSegment> kept = richest_fall_scan(32, 2, scan);
    EXPECT_EQ(int(kept.size()), c.kept) << c.name;
    EXPECT_EQ(scans, c.scans) << c.name;
    // The entries are those of the scan that found them.
    if (!kept.empty()) {
      int windows = 0;
      for (const auto& [w, n] : c.found)
        if (n == c.kept && !windows) windows = w;
      EXPECT_EQ(kept[0].start.value(), uint64_t(windows)) << c.name;
    }
  }
}

}  // namespace
