// A transport save of a transport source keeps the source's program tables:
// transport_stream_id, program number, PMT PID, the PIDs of its streams and
// their descriptors (languages here), as ffprobe reads them.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "demux/transport_demuxer.h"
#include "mux/tsmux.h"
#include "support/support.h"

namespace {

using namespace tsupport;

// Video, MP2 (French) and AC-3 (German) with tables unlike our defaults.
std::string make_source(const std::string& dir) {
  const std::string out = dir + "/src.ts";
  const int rc = run(
      "ffmpeg -v error -y -threads 1 -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i "
      "sine=frequency=440:sample_rate=48000 -t 1.2 -map 0:v -map 1:a -map 1:a -c:v mpeg2video -g 12 -bf 2 "
      "-b:v 1M -c:a:0 mp2 -c:a:1 ac3 -b:a 128k -metadata:s:a:0 language=fra -metadata:s:a:1 language=deu "
      "-mpegts_transport_stream_id 0x1234 -mpegts_service_id 7 -mpegts_pmt_start_pid 0x1500 "
      "-mpegts_start_pid 0x200 " +
      sh_quote(out));
  return rc == 0 ? out : std::string();
}

// ffprobe's program line and stream lines (ids, codecs, languages).
std::set<std::string> tables(const std::string& file) {
  std::string text;
  run("ffprobe -v error -show_entries program=program_num,pmt_pid,pcr_pid:stream=id,codec_name:stream_tags=language "
      "-of compact " +
          sh_quote(file),
      &text);
  std::set<std::string> out;
  for (const std::string& l : split_lines(text))
    if (!l.empty()) out.insert(l);
  return out;
}

TEST(SaveTables, TransportSaveOfATransportSourceKeepsItsTables) {
  if (!have_program("ffmpeg") || !have_program("ffprobe")) GTEST_SKIP() << "no ffmpeg";
  const std::string dir = temp_dir();
  const std::string src = make_source(dir);
  ASSERT_FALSE(src.empty());
  const std::string out = dir + "/out.ts";
  std::vector<std::string> lines;
  ASSERT_EQ(dev("save " + sh_quote(src) + " " + sh_quote(out) + " --keep 0:24 --gop-only --kind ts", &lines), 0);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(field(lines.back(), "status"), "done") << lines.back();

  const std::set<std::string> want = tables(src), got = tables(out);
  ASSERT_FALSE(want.empty());
  EXPECT_EQ(got, want);
  PAT pat;
  ASSERT_EQ(ts_read_pat(out.c_str(), &pat), 0);
  EXPECT_EQ(pat.transport_stream_id, 0x1234);
  std::string err;
  EXPECT_EQ(run("ffmpeg -v error -i " + sh_quote(out) + " -f null - 2>&1", &err), 0);
  EXPECT_EQ(err, "");
}

// At the multiplexer: a PID the caller asked for stays; the tables are
// taken only from a transport stream and only before the first packet.
TEST(SaveTables, MultiplexerTakesTablesOnlyFromATransportSourceBeforeWriting) {
  if (!have_program("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  const std::string dir = temp_dir();
  const std::string src = make_source(dir);
  ASSERT_FALSE(src.empty());
  std::vector<ESData> es(2);
  int err = 0;
  es[0].open(fixture("pm_m2.m2v").c_str(), &err);
  ASSERT_EQ(err, 0);
  es[1].open(fixture("pm_a48.mp2").c_str(), &err);
  ASSERT_EQ(err, 0);
  es[0].stream_id = 0xE0;
  es[0].pid = 0x300;
  es[1].stream_id = 0xC0;
  const std::string out = dir + "/m.ts";
  int failed = 1;
  TSMux m(2, es.data(), out.c_str(), &failed, 0);
  ASSERT_EQ(failed, 0);
  EXPECT_EQ(m.set_psi_sections(fixture("pm_a48.mp2").c_str()), 1);  // no tables to take
  EXPECT_EQ(m.pmt_pid(), 48);
  EXPECT_EQ(m.set_psi_sections(src.c_str()), 0);
  EXPECT_EQ(m.pmt_pid(), 0x1500);
  int ids[2] = {}, pids[2] = {};
  ASSERT_EQ(m.list_stream_ids(ids, pids, 2), 2);
  EXPECT_EQ(pids[0], 0x300);  // asked for
  EXPECT_EQ(pids[1], 0x201);  // the source's MPEG audio
  m.finish();
  EXPECT_EQ(m.set_psi_sections(src.c_str()), 1);
}

}  // namespace
