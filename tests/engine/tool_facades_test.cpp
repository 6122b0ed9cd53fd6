// The stream-tool windows' facades: every call answers its default without
// its engine object, and with one it forwards (the fixer repairs a joined
// stream like the fixer itself).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demux/timestamp_scan.h"
#include "engine/tool_facades.h"
#include "foundation/job_control.h"
#include "pes_stamps.h"
#include "support.h"

namespace {

using tsupport::run;
using tsupport::sh_quote;

TEST(ToolFacades, GopFixerDefaultsWithoutFixerAndRepairsWithOne) {
  GopFixerFacade f;
  for (int round = 0; round < 2; ++round) {  // before create, after destroy
    EXPECT_FALSE(f.exists());
    EXPECT_EQ(f.init("/nonexistent.m2v"), 1);
    EXPECT_EQ(f.scan(), 0);
    EXPECT_EQ(f.fix(), 0);
    EXPECT_EQ(f.is_done(), 1);
    EXPECT_EQ(f.close(), 0);
    EXPECT_EQ(f.get_error_count(), 0);
    EXPECT_EQ(f.get_second_error_count(), 0);
    EXPECT_EQ(f.get_ts_counter_1(), 0);
    EXPECT_EQ(f.get_ts_counter_2(), 0);
    EXPECT_EQ(f.get_state(), 1);
    EXPECT_EQ(f.is_dvd_video(), 0);
    EXPECT_EQ(f.get_file_size(), 0u);
    f.set_out_fname("x");
    f.cleanup();
    f.create();
    f.destroy();
  }
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  // Two recordings joined: the second starts its time codes again.
  const std::string dir = tsupport::temp_dir();
  const std::string piece = dir + "/p.m2v", joined = dir + "/j.m2v", copy = dir + "/c.m2v";
  ASSERT_EQ(run("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=176x144:rate=25:duration=2 -c:v mpeg2video "
                "-g 12 -bf 2 -threads 1 -y " +
                sh_quote(piece)),
            0);
  std::vector<uint8_t> bytes = tsupport::read_file(piece);
  const size_t one = bytes.size();
  int gops = 0;
  for (size_t i = 0; i + 4 <= one; ++i) gops += !bytes[i] && !bytes[i + 1] && bytes[i + 2] == 1 && bytes[i + 3] == 0xB8;
  ASSERT_GT(gops, 1);
  bytes.insert(bytes.end(), bytes.begin(), bytes.begin() + static_cast<long>(one));
  ASSERT_TRUE(tsupport::write_file(joined, bytes));
  f.create();
  ASSERT_EQ(f.init(joined.c_str()), 0);
  EXPECT_EQ(f.get_state(), 0);  // writable: fixed in place
  EXPECT_EQ(f.get_file_size(), bytes.size());
  while (f.scan() > 0) {
  }
  EXPECT_EQ(f.get_error_count(), gops);  // the second piece's GOPs
  EXPECT_EQ(f.get_second_error_count(), 0);
  EXPECT_EQ(f.is_dvd_video(), 0);  // 176x144 is no DVD size
  f.set_out_fname(copy.c_str());
  while (!f.is_done()) ASSERT_GE(f.fix(), 0);
  EXPECT_EQ(f.close(), 0);
  EXPECT_EQ(f.get_error_fix_count(), gops);
  EXPECT_EQ(tsupport::read_file(joined), bytes);  // a copy leaves the input
  f.destroy();
  f.create();
  ASSERT_EQ(f.init(copy.c_str()), 0);
  while (f.scan() > 0) {
  }
  EXPECT_EQ(f.get_error_count(), 0);
  // A DVD recording meets the DVD rules.
  f.destroy();
  f.create();
  ASSERT_EQ(f.init(tsupport::fixture("cv_dvd.vob").c_str()), 0);
  while (f.scan() > 0) {
  }
  EXPECT_EQ(f.is_dvd_video(), 1);
}

}  // namespace

namespace {

TEST(ToolFacades, ConvertorAndScanDefaultWithoutTheirObjectsAndForwardWithThem) {
  ConvertorFacade c;
  TimeStampScanFacade t;
  for (int round = 0; round < 2; ++round) {  // before create, after destroy
    int pids[4] = {}, kinds[4] = {}, ids[4] = {};
    double sizes[5] = {};
    EXPECT_EQ(c.get_stream_type(), 0);
    EXPECT_EQ(c.get_programs(pids, 4), 0);
    EXPECT_EQ(c.get_file_size(), 0.0);
    EXPECT_EQ(c.get_bit_rate(), 0.0);
    EXPECT_EQ(c.load("/nonexistent.vob"), 0);
    EXPECT_EQ(c.get_es_list(kinds, ids, pids, 4), 0);
    EXPECT_EQ(c.select_stream(0xE0), 0);
    EXPECT_EQ(c.deselect_stream(0xE0), 0);
    EXPECT_EQ(c.estimate_mux_rates(sizes), 0);
    EXPECT_EQ(c.save("/nonexistent/out.ts", 8, nullptr), 0.0);
    // A window waiting on the job's control still sees it end.
    JobControl save_job, scan_job;
    EXPECT_EQ(c.save("/nonexistent/out.ts", 8, &save_job), 0.0);
    EXPECT_EQ(save_job.outcome(), JobOutcome::failed);
    EXPECT_EQ(save_job.progress(), 100.0);
    EXPECT_EQ(t.scan(&scan_job), 0);
    EXPECT_EQ(scan_job.outcome(), JobOutcome::failed);
    EXPECT_EQ(scan_job.progress(), 100.0);
    EXPECT_EQ(c.get_pmt_pid(), 16);
    EXPECT_EQ(c.set_pmt_pid(100), 0);
    EXPECT_EQ(c.set_video_pid(101), 0);
    EXPECT_EQ(c.set_audio_pid(102), 0);
    const TimeStampEntry stale;
    const TimeStampEntry* list = &stale;
    EXPECT_EQ(t.get_stream_type(), 0);
    EXPECT_EQ(t.open("/nonexistent.vob"), 1);
    EXPECT_EQ(t.scan(nullptr), 0);
    EXPECT_EQ(t.get_list(1, &list), 0);
    EXPECT_EQ(list, nullptr);
    c.create();
    c.destroy();
    t.create();
    t.destroy();
  }
  const std::string vob = tsupport::fixture("ps_vob.vob");
  c.create();
  c.load(vob.c_str());
  EXPECT_EQ(c.get_stream_type(), 6);
  EXPECT_GT(c.get_file_size(), 0.0);
  int kinds[8] = {}, ids[8] = {}, pids[8] = {};
  EXPECT_GE(c.get_es_list(kinds, ids, pids, 8), 2);
  EXPECT_EQ(c.select_stream(0xE0), 1);
  t.create();
  EXPECT_EQ(t.open(vob.c_str()), 0);
  EXPECT_EQ(t.get_stream_type(), c.get_stream_type());
}

// The three kinds of error each have their counter: GOP time codes (1),
// audio time stamps of a program stream (2, also counted when fixed) and
// GOPs longer than the DVD rules allow (3).
TEST(ToolFacades, GopFixerCountsEachKindOfError) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  const std::string dir = tsupport::temp_dir();
  // Audio: one PTS moved by 3000 ticks.
  std::vector<uint8_t> vob = tsupport::read_file(tsupport::fixture("pst_cg.vob"));
  const auto fields = tsupport::audio_pts_fields(vob);
  ASSERT_GT(fields.size(), 6u);
  tsupport::write_stamp(&vob[fields[5]], tsupport::read_stamp(&vob[fields[5]]) + 3000);
  const std::string moved = dir + "/moved.vob";
  ASSERT_TRUE(tsupport::write_file(moved, vob));
  // GOP sizes: 20-frame GOPs at 25 frames/s.
  const std::string longg = dir + "/long.m2v";
  ASSERT_EQ(run("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=176x144:rate=25:duration=1.6 -c:v mpeg2video "
                "-g 20 -bf 2 -sc_threshold 1000000000 -threads 1 -y " +
                sh_quote(longg)),
            0);
  const std::vector<uint8_t> es = tsupport::read_file(longg);
  int long_gops = 0, pictures = -1;
  for (size_t i = 0; i + 4 <= es.size(); ++i) {
    if (es[i] || es[i + 1] || es[i + 2] != 1) continue;
    if (es[i + 3] == 0xB8) {
      long_gops += pictures > 15;
      pictures = 0;
    } else if (es[i + 3] == 0 && pictures >= 0) {
      ++pictures;
    }
  }
  long_gops += pictures > 15;
  ASSERT_GT(long_gops, 0);

  struct Case {
    std::string file;
    int time_codes, audio, long_gops;
  };
  for (const Case& c : {Case{moved, 0, 1, 0}, Case{longg, 0, 0, long_gops}}) {
    SCOPED_TRACE(c.file);
    GopFixerFacade f;
    f.create();
    ASSERT_EQ(f.init(c.file.c_str()), 0);
    while (f.scan() > 0) {
    }
    EXPECT_EQ(f.get_error_count(), c.time_codes);
    EXPECT_EQ(f.get_ts_counter_1(), c.audio);
    EXPECT_EQ(f.get_second_error_count(), c.long_gops);
    while (!f.is_done()) ASSERT_GE(f.fix(), 0);
    EXPECT_EQ(f.close(), 0);
    EXPECT_EQ(f.get_ts_counter_2(), c.audio);
  }
}

}  // namespace
