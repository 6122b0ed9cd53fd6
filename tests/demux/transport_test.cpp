// Transport demultiplexer: opening (programs, ES discovery, default
// selection), packet walk and PES headers, GOPs against the elementary
// stream they carry, audio spans, the demultiplexing job and damaged input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "demux/demuxer_cache.h"
#include "demux/goplist.h"
#include "demux/transport_demuxer.h"
#include "support/ffmpeg_oracle.h"
#include "support/support.h"

namespace {

using namespace tsupport;

std::unique_ptr<DeMuxerTransport> open_ts(const std::string& path) {
  int err = 1;
  auto d = std::make_unique<DeMuxerTransport>(path.c_str(), &err);
  if (err) return nullptr;
  return d;
}

struct ProbeStream {
  int pid = 0;
  std::string type;
  int sample_rate = 0;
  int channels = 0;
};

// ffprobe's streams of a transport stream, by PID.
std::map<int, ProbeStream> ffprobe_streams(const std::string& file) {
  std::string out;
  run("ffprobe -v error -show_entries stream=id,codec_type,sample_rate,channels -of csv=p=0 " + sh_quote(file), &out);
  std::map<int, ProbeStream> m;
  for (const std::string& line : split_lines(out)) {
    // codec_type,sample_rate,channels,id (ffprobe's order) or id last
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string x;
    while (std::getline(ss, x, ',')) f.push_back(x);
    if (f.size() < 2) continue;
    ProbeStream s;
    for (const std::string& v : f) {
      if (v.rfind("0x", 0) == 0)
        s.pid = int(std::stol(v, nullptr, 16));
      else if (v == "video" || v == "audio")
        s.type = v;
    }
    if (s.type == "audio" && f.size() >= 4) {
      s.sample_rate = std::atoi(f[1].c_str());
      s.channels = std::atoi(f[2].c_str());
    }
    m[s.pid] = s;
  }
  return m;
}

int full_channels(const ESData& r) { return r.get_ac3_header() ? r.get_ac3_channels() : r.get_channel_count(); }

TEST(TransportOpen, StreamsMatchFfprobe) {
  for (const char* name : {"ts_m2.ts", "ts_m1.ts", "ts_ac3.ts", "ts_ac3b.ts", "ts_2ac3.ts", "ts_ac3mp2.ts", "ts_2p.ts",
                           "ts_late.ts"}) {
    SCOPED_TRACE(name);
    auto d = open_ts(fixture(name));
    ASSERT_TRUE(d);
    const auto want = ffprobe_streams(fixture(name));
    int n = 0;
    ESData* es = d->get_es_data(&n);
    ASSERT_EQ(size_t(n), want.size());
    for (int i = 0; i < n; ++i) {
      auto it = want.find(es[i].pid);
      ASSERT_NE(it, want.end()) << "PID " << es[i].pid;
      EXPECT_EQ(it->second.type, es[i].is_video() ? "video" : "audio") << es[i].pid;
      if (!es[i].is_video()) {
        EXPECT_EQ(es[i].sample_rate, it->second.sample_rate) << es[i].pid;
        EXPECT_EQ(full_channels(es[i]), it->second.channels) << es[i].pid;
      }
    }
  }
}

// A PMT of 25 audio streams with language descriptors takes 296 bytes, two
// packets: the demultiplexer and the tables command read it whole (it was
// refused: the command failed and the streams came from a scan of the PES
// packets, without their PMT).
TEST(TransportOpen, TablesLongerThanOnePacketAreRead) {
  const std::string file = temp_dir() + "/big_pmt.ts";
  std::string maps;
  for (int i = 0; i < 25; ++i) maps += " -map 1:a";
  ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=176x144:rate=25:duration=1 -f lavfi -i "
                "sine=f=440:d=1:r=48000 -map 0:v" +
                maps + " -c:v mpeg2video -c:a mp2 -b:a 64k -ac 1 -metadata:s:a language=eng -f mpegts " +
                sh_quote(file)),
            0);
  auto d = open_ts(file);
  ASSERT_TRUE(d);
  const TSPMT* pmt = d->get_pmt(0);
  ASSERT_NE(pmt, nullptr);
  EXPECT_EQ(pmt->error_count, 0);
  EXPECT_EQ(pmt->section_length + 3, 296);
  ASSERT_EQ(pmt->es_count, 26);
  for (int i = 0; i < 26; ++i) EXPECT_EQ(pmt->es_pids[size_t(i)], 256 + i);

  std::vector<std::string> lines;
  ASSERT_EQ(dev("tables " + sh_quote(file), &lines), 0);
  std::vector<std::string> es;
  for (const auto& l : lines)
    if (l.rfind("es ", 0) == 0) es.push_back(l);
  ASSERT_EQ(es.size(), 26u);
  EXPECT_EQ(field(es[0], "stream_type"), "0x02");
  for (size_t i = 1; i < es.size(); ++i) {
    EXPECT_EQ(field_int(es[i], "pid"), 256 + long(i)) << es[i];
    EXPECT_EQ(field(es[i], "stream_type"), "0x03") << es[i];
  }
}

TEST(TransportOpen, KindsAndSignalling) {
  struct Case {
    const char* name;
    std::vector<int> kinds;  // in table order
  };
  const Case cases[] = {
      {"ts_m2.ts", {3, 1}},
      {"ts_m1.ts", {2, 1}},     // MPEG-1 video signalled as stream type 0x02
      {"ts_ac3.ts", {3, 9}},    // AC-3 as 0x81
      {"ts_ac3b.ts", {3, 9}},   // AC-3 as 0x06: found by its PES
      {"ts_2ac3.ts", {3, 9, 9}},
  };
  for (const Case& c : cases) {
    auto d = open_ts(fixture(c.name));
    ASSERT_TRUE(d) << c.name;
    int n = 0;
    ESData* es = d->get_es_data(&n);
    std::vector<int> kinds;
    for (int i = 0; i < n; ++i) kinds.push_back(es[i].kind);
    EXPECT_EQ(kinds, c.kinds) << c.name;
    EXPECT_EQ(d->get_pat().error_count, 0) << c.name;
  }
}

TEST(TransportOpen, DefaultSelection) {
  {  // Two AC-3 streams: the one with more channels.
    auto d = open_ts(fixture("ts_2ac3.ts"));
    ASSERT_TRUE(d);
    int pid = 0;
    d->get_audio_selection(&pid);
    int n = 0;
    ESData* es = d->get_es_data(&n);
    const ESData* sel = nullptr;
    for (int i = 0; i < n; ++i)
      if (es[i].pid == pid) sel = &es[i];
    ASSERT_TRUE(sel);
    EXPECT_EQ(sel->get_ac3_channels(), 6);
  }
  {  // AC-3 listed first, then MP2: MP2 wins.
    auto d = open_ts(fixture("ts_ac3mp2.ts"));
    ASSERT_TRUE(d);
    int pid = 0;
    const int id = d->get_audio_selection(&pid);
    EXPECT_EQ(id, 0xC0);
    EXPECT_EQ(pid, 258);
  }
  {
    auto d = open_ts(fixture("ts_m2.ts"));
    ASSERT_TRUE(d);
    int vpid = 0, apid = 0;
    EXPECT_EQ(d->get_video_selection(&vpid), 0xE0);
    EXPECT_EQ(d->get_audio_selection(&apid), 0xC0);
    EXPECT_EQ(vpid, 256);
    EXPECT_EQ(apid, 257);
  }
}

TEST(TransportOpen, TwoProgramsSortedAndCoupled) {
  auto d = open_ts(fixture("ts_2p.ts"));
  ASSERT_TRUE(d);
  EXPECT_EQ(d->get_program_count(), 2);
  int n = 0;
  ESData* es = d->get_es_data(&n);
  ASSERT_EQ(n, 4);
  for (int i = 1; i < n; ++i) EXPECT_LE(es[i - 1].program_index, es[i].program_index);
  // The video of the second program brings its audio with it.
  const ESData* v2 = nullptr;
  const ESData* a2 = nullptr;
  for (int i = 0; i < n; ++i) {
    if (es[i].program_index != 1) continue;
    (es[i].is_video() ? v2 : a2) = &es[i];
  }
  ASSERT_TRUE(v2 && a2);
  d->select_video_es(v2->stream_id, v2->pid);
  int vpid = 0, apid = 0;
  d->get_video_selection(&vpid);
  d->get_audio_selection(&apid);
  EXPECT_EQ(vpid, v2->pid);
  EXPECT_EQ(apid, a2->pid);
}

// ---- packets and PES headers ----------------------------------------------------

TEST(TransportPes, HeaderCases) {
  // 00 00 01 E0 len(2) 10xxxxxx flags hdl PTS(5) DTS(5)
  auto header = [](int flags, int hdl, std::vector<uint8_t> ts, int len = 0) {
    std::vector<uint8_t> b = {0, 0, 1, 0xE0, uint8_t(len >> 8), uint8_t(len), 0x80, uint8_t(flags << 6), uint8_t(hdl)};
    b.insert(b.end(), ts.begin(), ts.end());
    return b;
  };
  DeMuxerTransport::PesHeader h;
  // All 33 bits set: -1.
  auto all = header(2, 5, {0x2F, 0xFF, 0xFF, 0xFF, 0xFF});
  ASSERT_EQ(DeMuxerTransport::parse_pes_header(all.data(), int(all.size()), &h), 0);
  EXPECT_EQ(h.pts_flag, 1);
  EXPECT_EQ(h.pts, -1.0);
  // PTS 90000 (1 s) and DTS 86400.
  auto both = header(3, 10, {0x31, 0x00, 0x05, 0xBF, 0x21, 0x11, 0x00, 0x05, 0xA3, 0x01});
  ASSERT_EQ(DeMuxerTransport::parse_pes_header(both.data(), int(both.size()), &h), 0);
  EXPECT_EQ(h.pts_kind, 3);
  EXPECT_EQ(h.pts, 90000.0);
  EXPECT_EQ(h.dts, 86400.0);
  EXPECT_EQ(h.header_length, 19);
  EXPECT_EQ(h.payload_length, 0);  // PES_packet_length 0: unbounded
  // A header cut before its PTS bytes reads as one without a time stamp.
  auto cut = header(2, 5, {0x21, 0x00});
  ASSERT_EQ(DeMuxerTransport::parse_pes_header(cut.data(), int(cut.size()), &h), 0);
  EXPECT_EQ(h.pts_flag, 0);
  // The forbidden '01' flags carry no time stamp.
  auto forbidden = header(1, 5, {0x21, 0x00, 0x01, 0x00, 0x01});
  ASSERT_EQ(DeMuxerTransport::parse_pes_header(forbidden.data(), int(forbidden.size()), &h), 0);
  EXPECT_EQ(h.pts_flag, 0);
  // A PES length shorter than its own header lies.
  auto lying = header(2, 5, {0x21, 0x00, 0x01, 0x00, 0x01}, 4);
  EXPECT_EQ(DeMuxerTransport::parse_pes_header(lying.data(), int(lying.size()), &h), 4);
  // Not MPEG-2 PES.
  auto mpeg1 = header(2, 5, {0x21, 0x00, 0x01, 0x00, 0x01});
  mpeg1[6] = 0x0F;
  EXPECT_EQ(DeMuxerTransport::parse_pes_header(mpeg1.data(), int(mpeg1.size()), &h), 4);
  // Fewer than 9 bytes from the start code: no header.
  EXPECT_EQ(DeMuxerTransport::parse_pes_header(all.data(), 8, &h), 1);
}

std::string temp_copy_with(const std::string& src, const std::vector<uint8_t>& front, const std::string& name) {
  std::vector<uint8_t> bytes = front;
  const auto body = read_file(src);
  bytes.insert(bytes.end(), body.begin(), body.end());
  const std::string out = temp_dir() + "/" + name;
  write_file(out, bytes);
  return out;
}

TEST(TransportPackets, SyncPhaseAndAlignedSeek) {
  const std::string file = temp_copy_with(fixture("ts_m2.ts"), std::vector<uint8_t>(100, 0x00), "phase.ts");
  auto d = open_ts(file);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->get_sync_phase(), 100);
  d->goto_offset(FileOffset(1000u));
  EXPECT_EQ(d->current_offset().value(), 1040u);
  ASSERT_EQ(d->read_packet(), 0);
}

TEST(TransportPackets, SkipPacketStopsAtTheNextPid) {
  auto d = open_ts(fixture("ts_m2.ts"));
  ASSERT_TRUE(d);
  d->goto_offset(FileOffset(0u));
  // Find a run of video packets and check skip_packet ends right behind it.
  const auto bytes = read_file(fixture("ts_m2.ts"));
  auto pid_at = [&](size_t k) { return ((bytes[k * 188 + 1] & 0x1F) << 8) | bytes[k * 188 + 2]; };
  size_t k = 0;
  while (k + 4 < bytes.size() / 188 && !(pid_at(k) == 256 && pid_at(k + 1) == 256 && pid_at(k + 2) == 256)) ++k;
  size_t end = k;
  while (pid_at(end) == 256) ++end;
  d->goto_offset(FileOffset::from_u64(k * 188));
  ASSERT_EQ(d->read_packet(), 0);
  EXPECT_EQ(d->skip_packet(), 0);
  EXPECT_EQ(d->current_offset().value(), end * 188);
  EXPECT_NE(d->get_curr_pid(), 256);
}

TEST(TransportPackets, NextPacketTellsForeignPidFromTheEnd) {
  auto d = open_ts(fixture("ts_m2.ts"));
  ASSERT_TRUE(d);
  d->goto_offset(FileOffset(0u));
  EXPECT_EQ(d->next_packet(), 0);  // the first packet is the PAT
  EXPECT_EQ(d->get_next_status(), DeMuxerTransport::NextStatus::foreign_pid);
  d->goto_offset(d->get_file_size());
  EXPECT_EQ(d->next_packet(), 0);
  EXPECT_EQ(d->get_next_status(), DeMuxerTransport::NextStatus::end);
}

// ---- GOPs -----------------------------------------------------------------------

struct GopRow {
  int bytes, first_field, fields, pictures;
  std::string types;
  uint32_t tc;
  double pts;
  std::vector<uint8_t> data;
};

std::vector<GopRow> walk_gops(const std::string& file, bool read, int id = 0, int pid = 0) {
  std::vector<GopRow> rows;
  GOPList list(file.c_str(), id, pid);
  if (!list.is_open() || list.build_index()) return rows;
  GOP g;
  for (int n = list.get_first_gop(&g, read ? 1 : 0); n > 0; n = list.next_gop(&g, read ? 1 : 0)) {
    GopRow r{g.byte_length, g.first_field, g.total_fields, g.pic_count, "", g.time_code, g.pts, {}};
    for (int i = 0; i < g.pic_count; ++i) r.types += "?IPB"[g.get_pic_type(i) & 3];
    if (read) r.data.assign(g.data, g.data + g.valid_bytes());
    rows.push_back(r);
    if (rows.size() > 100000) break;
  }
  return rows;
}

// Presentation times in display order (ffprobe decodes in that order).
std::vector<double> ffprobe_video_pts(const std::string& file) {
  std::string out;
  run("ffprobe -v error -select_streams v -show_entries frame=pts -of csv=p=0 " + sh_quote(file), &out);
  std::vector<double> pts;
  for (const std::string& l : split_lines(out))
    if (!l.empty()) pts.push_back(std::stod(l));
  return pts;
}

TEST(TransportGops, EqualTheElementaryStream) {
  struct Case {
    const char* ts;
    const char* es;
  };
  for (const Case& c : {Case{"ts_m2.ts", "ts_v.m2v"}, Case{"ts_m1.ts", "ts_v.m1v"}, Case{"ts_fa.ts", "ts_fa.m2v"}}) {
    SCOPED_TRACE(c.ts);
    const auto ts = walk_gops(fixture(c.ts), true);
    const auto es = walk_gops(fixture(c.es), true);
    ASSERT_FALSE(es.empty());
    ASSERT_EQ(ts.size(), es.size());
    const auto pts = ffprobe_video_pts(fixture(c.ts));
    for (size_t i = 0; i < ts.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(ts[i].bytes, es[i].bytes);
      EXPECT_EQ(ts[i].first_field, es[i].first_field);
      EXPECT_EQ(ts[i].fields, es[i].fields);
      EXPECT_EQ(ts[i].pictures, es[i].pictures);
      EXPECT_EQ(ts[i].types, es[i].types);
      EXPECT_EQ(ts[i].tc, es[i].tc);
      EXPECT_TRUE(ts[i].data == es[i].data);
      // The index counts time from its first GOP.
      const size_t frame = size_t(ts[i].first_field / 2);
      ASSERT_LT(frame, pts.size());
      EXPECT_EQ(ts[i].pts, pts[frame] - pts[0]);
    }
  }
}

// The second program's MPEG-1 video after the first program's MPEG-2: the
// picture parser must judge its pictures by its own sequence header (the
// other one cut its last picture as incomplete).
TEST(TransportGops, SecondProgramVideoUsesItsOwnSequenceHeader) {
  const auto ts = walk_gops(fixture("ts_2p.ts"), true, 0xE0, 258);
  const auto es = walk_gops(fixture("ts_v.m1v"), true);
  ASSERT_FALSE(es.empty());
  ASSERT_EQ(ts.size(), es.size());
  for (size_t i = 0; i < ts.size(); ++i) {
    EXPECT_EQ(ts[i].types, es[i].types) << i;
    EXPECT_TRUE(ts[i].data == es[i].data) << i;
  }
}

TEST(TransportGops, ReadFirstPictureOnly) {
  auto d = open_ts(fixture("ts_m2.ts"));
  ASSERT_TRUE(d);
  GOP g;
  d->goto_offset(FileOffset(0u));
  ASSERT_GT(d->parse_gop(&g, 0, 0, 0), 1);
  EXPECT_EQ(g.pts, ffprobe_video_pts(fixture("ts_m2.ts")).at(0));  // the first displayed frame's
  const std::vector<uint8_t> whole(g.data, g.data + g.byte_length);
  GOP r = g;
  ASSERT_EQ(d->read_gop(&r, 0, 1), g.get_pic_entry(1));
  EXPECT_TRUE(std::equal(r.data, r.data + r.data_valid, whole.begin()));
}

// ---- audio spans ----------------------------------------------------------------

TEST(TransportAudio, SpanPtsIsThePesPts) {
  const std::string file = fixture("ts_m2.ts");
  std::string out;
  run("ffprobe -v error -select_streams a -show_entries packet=pts,pos -of csv=p=0 " + sh_quote(file), &out);
  std::vector<std::pair<double, uint64_t>> packets;  // pts, pos
  for (const std::string& l : split_lines(out)) {
    double pts = 0;
    unsigned long long pos = 0;
    if (std::sscanf(l.c_str(), "%lf,%llu", &pts, &pos) == 2) packets.push_back({pts, pos});
  }
  ASSERT_GT(packets.size(), 10u);
  auto d = open_ts(file);
  ASSERT_TRUE(d);
  for (size_t k : {size_t(0), packets.size() / 2, packets.size() - 2}) {
    ESBuffer span(16384);
    span.start = FileOffset::from_u64(packets[k].second);
    const double t = d->load_abs(&span, 0, 0);
    EXPECT_EQ(t, packets[k].first) << k;
    EXPECT_GT(span.bytes, 0);
  }
  // Inside a PES: the next PES of the audio PID.
  ESBuffer span(16384);
  span.start = FileOffset::from_u64(packets[3].second + 188);
  EXPECT_EQ(d->load_abs(&span, 0, 0), packets[4].first);
}

// ---- the demultiplexing job ----------------------------------------------------

std::vector<ESData> job_records(DeMuxer& d, const std::string& dir) {
  int n = 0;
  ESData* es = d.get_es_data(&n);
  std::vector<ESData> records;
  for (int i = 0; i < n; ++i) {
    ESData r = es[i];
    r.set_name((dir + "/" + std::to_string(r.pid)).c_str());
    records.push_back(r);
  }
  return records;
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

TEST(TransportJob, StopCodes) {
  struct Case {
    int code;
    bool kept;
  };
  for (const Case& c : {Case{-1, false}, Case{-2, true}}) {
    auto d = open_ts(fixture("ts_m2.ts"));
    ASSERT_TRUE(d);
    const std::string dir = temp_dir() + "/stop" + std::to_string(-c.code);
    ASSERT_EQ(run("mkdir -p " + sh_quote(dir)), 0);
    auto records = job_records(*d, dir);
    JobControl status;
    status.set_progress_callback([&status, code = c.code](double pc) {
      if (pc >= 40 && pc < 100) status.set_command_word(code);
    });
    const double done = d->demuxer(int(records.size()), records.data(), &status);
    EXPECT_GT(done, 0);
    EXPECT_LT(done, d->get_file_size_double());
    for (const ESData& r : records) EXPECT_EQ(exists(r.get_name()), c.kept) << c.code;
  }
}

TEST(TransportJob, AbsentStreamAndRefusedOutputs) {
  auto d = open_ts(fixture("ts_m2.ts"));
  ASSERT_TRUE(d);
  const std::string dir = temp_dir();
  auto records = job_records(*d, dir);
  records[0].stream_id = 0xE5;  // not in the file: nothing is written for it
  JobControl status;
  DemuxReport report;
  EXPECT_GT(d->demuxer(int(records.size()), records.data(), &status, &report), 0);
  EXPECT_EQ(read_file(records[0].get_name()).size(), 0u);
  EXPECT_GT(read_file(records[1].get_name()).size(), 0u);

  // An output that is the input fails the job and leaves the input alone.
  const std::string copy = dir + "/in.ts";
  ASSERT_EQ(run("cp " + sh_quote(fixture("ts_m2.ts")) + " " + sh_quote(copy)), 0);
  auto e = open_ts(copy);
  ASSERT_TRUE(e);
  auto same = job_records(*e, dir);
  same[1].set_name(copy.c_str());
  EXPECT_LT(e->demuxer(int(same.size()), same.data(), nullptr, &report), 0);
  EXPECT_EQ(read_file(copy), read_file(fixture("ts_m2.ts")));
  EXPECT_EQ(report.failed_output, copy);

  // An output that cannot be opened fails the job.
  auto bad = job_records(*e, dir + "/no/such/folder");
  EXPECT_LT(e->demuxer(int(bad.size()), bad.data(), nullptr, &report), 0);
  EXPECT_FALSE(report.failed_output.empty());

  // A full disk fails it too, naming the output.
  if (exists("/dev/full")) {
    auto full = job_records(*e, dir);
    full[0].set_name("/dev/full");
    full.resize(1);
    EXPECT_LT(e->demuxer(int(full.size()), full.data(), nullptr, &report), 0);
    EXPECT_EQ(report.failed_output, "/dev/full");
  }
}

// ---- linear PCM ------------------------------------------------------------------

TEST(TransportLpcm, FoundSelectedAndReadAsSamples) {
  const std::string file = lpcm_transport_stream(temp_dir() + "/lpcm.ts");
  ASSERT_FALSE(file.empty());
  auto d = open_ts(file);
  ASSERT_TRUE(d);
  int n = 0;
  ESData* es = d->get_es_data(&n);
  const ESData* pcm = nullptr;
  for (int i = 0; i < n; ++i)
    if (es[i].lpcm) pcm = &es[i];
  ASSERT_NE(pcm, nullptr);
  EXPECT_EQ(pcm->kind, ES_KIND_LPCM);
  EXPECT_EQ(pcm->pid, 0x1100);
  EXPECT_EQ(pcm->stream_id, 0xBD);
  EXPECT_EQ(pcm->sample_rate, 48000);
  EXPECT_EQ(pcm->get_channel_count(), 2);
  EXPECT_EQ(pcm->bit_rate, 1536000);
  EXPECT_EQ(d->get_audio_info().get_audio_type(), 10);

  // A span holds samples (the first PES's header left out) stamped with
  // its PES's time.
  std::string out;
  run("ffprobe -v error -select_streams a -show_entries packet=pts,pos -of csv=p=0 " + sh_quote(file), &out);
  double pts = 0;
  unsigned long long pos = 0;
  ASSERT_EQ(std::sscanf(split_lines(out).at(0).c_str(), "%lf,%llu", &pts, &pos), 2);
  const std::string raw = temp_dir() + "/lpcm.s16be";
  ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -i " + sh_quote(file) + " -map 0:a -f s16be " + sh_quote(raw)), 0);
  const auto samples = read_file(raw);
  ESBuffer span(16384);
  span.start = FileOffset::from_u64(pos);
  EXPECT_EQ(d->load_abs(&span, 0, 0), pts);
  ASSERT_GT(span.bytes, 0);
  ASSERT_LE(size_t(span.bytes), samples.size());
  EXPECT_TRUE(std::equal(span.data, span.data + span.bytes, samples.begin()));

  // The job writes a WAVE file of the same samples.
  const std::string dir = temp_dir() + "/lpcm_job";
  ASSERT_EQ(run("mkdir -p " + sh_quote(dir)), 0);
  auto records = job_records(*d, dir);
  JobControl status;
  EXPECT_GT(d->demuxer(int(records.size()), records.data(), &status), 0);
  const std::string wav = dir + "/" + std::to_string(0x1100);
  ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -i " + sh_quote(wav) + " -f s16be " + sh_quote(raw + ".wav")), 0);
  EXPECT_EQ(read_file(raw + ".wav"), samples);
}

TEST(TransportLpcm, UnsupportedHeadersAreNotTaken) {
  const std::string file = lpcm_transport_stream(temp_dir() + "/lpcm_bad.ts");
  ASSERT_FALSE(file.empty());
  auto bytes = read_file(file);
  // Every PCM header says 24-bit samples (byte 3, bits 7-6 = 3).
  int changed = 0;
  for (size_t i = 0; i + 20 < bytes.size(); i += 188) {
    const uint8_t* p = &bytes[i];
    const int pid = ((p[1] & 0x1F) << 8) | p[2];
    if (pid != 0x1100 || !(p[1] & 0x40)) continue;
    const size_t at = i + 4 + ((p[3] & 0x20) ? p[4] + 1 : 0);
    if (bytes[at] || bytes[at + 1] || bytes[at + 2] != 1 || bytes[at + 3] != 0xBD) continue;
    const size_t h = at + 9 + bytes[at + 8];
    bytes[h + 3] = 0xC0;
    ++changed;
  }
  ASSERT_GT(changed, 10);
  write_file(file, bytes);
  auto d = open_ts(file);
  ASSERT_TRUE(d);
  int n = 0;
  ESData* es = d->get_es_data(&n);
  for (int i = 0; i < n; ++i) EXPECT_FALSE(es[i].lpcm);
  EXPECT_EQ(n, 1);  // the video still opens
}

// ---- PES headers cut by the packet end -----------------------------------------

// Packets of PID 256 carrying es as PES packets of `chunk` bytes whose
// headers (14 bytes, with a PTS) are cut after `first` bytes by the end of
// their first packet; behind the PAT and PMT of ts_m2.ts.
std::vector<uint8_t> split_header_stream(const std::vector<uint8_t>& es, size_t chunk, int first) {
  const auto model = read_file(fixture("ts_m2.ts"));
  std::vector<uint8_t> out(model.begin(), model.begin() + 2 * 188);  // PAT, PMT
  int cc = 0;
  auto packet = [&](bool start, const uint8_t* p, int n) {
    // 0x47, PID 256, then an adaptation field that pads a short payload.
    out.push_back(0x47);
    out.push_back(uint8_t((start ? 0x40 : 0) | 0x01));
    out.push_back(0x00);
    if (n >= 184) {
      out.push_back(uint8_t(0x10 | cc));
    } else {
      out.push_back(uint8_t(0x30 | cc));
      const int af = 183 - n;
      out.push_back(uint8_t(af));
      if (af > 0) {
        out.push_back(0x00);
        out.insert(out.end(), size_t(af - 1), 0xFF);
      }
    }
    out.insert(out.end(), p, p + std::min(n, 184));
    cc = (cc + 1) & 15;
  };
  double pts = 126000;
  for (size_t at = 0; at < es.size(); at += chunk) {
    const int64_t t = int64_t(pts);
    std::vector<uint8_t> pes = {0, 0, 1, 0xE0, 0, 0, 0x80, 0x80, 5, uint8_t(0x21 | ((t >> 29) & 0x0E)),
                                uint8_t(t >> 22), uint8_t(0x01 | ((t >> 14) & 0xFE)), uint8_t(t >> 7),
                                uint8_t(0x01 | ((t << 1) & 0xFE))};
    pes.insert(pes.end(), es.begin() + long(at), es.begin() + long(std::min(es.size(), at + chunk)));
    pts += 3600;
    packet(true, pes.data(), first);
    for (size_t k = size_t(first); k < pes.size(); k += 184)
      packet(false, pes.data() + k, int(std::min<size_t>(184, pes.size() - k)));
  }
  return out;
}

TEST(TransportPes, HeadersCutByThePacketEndAreReadAcrossPackets) {
  TraceCapture quiet;
  const auto es = read_file(fixture("ts_v.m2v"));
  ASSERT_GT(es.size(), 100000u);
  const std::string dir = temp_dir();
  const std::string file = dir + "/split.ts";
  ASSERT_TRUE(write_file(file, split_header_stream(es, 30000, 6)));
  auto d = open_ts(file);
  ASSERT_TRUE(d);
  // Every byte of the video comes out, and no PES start counts as damaged.
  std::vector<ESData> records;
  int n = 0;
  ESData* table = d->get_es_data(&n);
  for (int i = 0; i < n; ++i)
    if (table[i].is_video()) {
      records.push_back(table[i]);
      records.back().set_name((dir + "/v.m2v").c_str());
    }
  ASSERT_EQ(records.size(), 1u);
  DemuxReport report;
  EXPECT_GT(d->demuxer(1, records.data(), nullptr, &report), 0);
  EXPECT_EQ(report.skipped_pes, 0);
  auto out = read_file(dir + "/v.m2v");
  ASSERT_GE(out.size(), es.size());
  EXPECT_TRUE(std::equal(es.begin(), es.end() - 4, out.begin()));
  // The GOPs are those of the elementary stream, timed by their PES.
  const auto ts_gops = walk_gops(file, true);
  const auto es_gops = walk_gops(fixture("ts_v.m2v"), true);
  ASSERT_EQ(ts_gops.size(), es_gops.size());
  for (size_t i = 0; i < ts_gops.size(); ++i) EXPECT_TRUE(ts_gops[i].data == es_gops[i].data) << i;
}

// ---- damaged input ---------------------------------------------------------------

// Opens, walks every GOP and loads spans; any crash or overrun shows under
// the sanitizers, a hang as a timeout.
void exercise(const std::string& path) {
  int err = 0;
  DeMuxerTransport d(path.c_str(), &err);
  if (err) return;
  GOP g;
  d.goto_offset(FileOffset(0u));
  for (int guard = 0; guard < 10000; ++guard) {
    const FileOffset before = d.current_offset();
    d.parse_gop(&g, 0, 0, 0);
    if (g.byte_length > 0) d.read_gop(&g, 0, 0);
    d.goto_offset(g.end);
    if (!d.current_offset().greater(before)) break;
  }
  ESBuffer span(16384);
  for (uint64_t at = 0; at < d.get_file_size().value(); at += 50000) {
    span.start = FileOffset::from_u64(at);
    d.load_abs(&span, 0, 0);
  }
}

TEST(TransportDamage, MalformedFilesEndCleanly) {
  TraceCapture quiet;
  const auto clean = read_file(fixture("ts_m2.ts"));
  ASSERT_GT(clean.size(), 188u * 100);
  const std::string dir = temp_dir();
  std::mt19937 rng(12);
  std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
  cases.push_back({"truncated", std::vector<uint8_t>(clean.begin(), clean.begin() + long(clean.size() / 3 + 77))});
  auto flipped = clean;
  for (int i = 0; i < 2000; ++i) flipped[rng() % flipped.size()] ^= uint8_t(1u << (rng() % 8));
  cases.push_back({"flipped", flipped});
  std::vector<uint8_t> random(400000);
  for (auto& b : random) b = uint8_t(rng());
  for (size_t k = 0; k < random.size(); k += 188) random[k] = 0x47;  // looks like packets
  cases.push_back({"random", random});
  auto shuffled = clean;
  {
    const size_t n = shuffled.size() / 188;
    for (size_t k = n - 1; k > 0; --k) {
      const size_t j = rng() % (k + 1);
      std::swap_ranges(shuffled.begin() + long(k * 188), shuffled.begin() + long(k * 188 + 188),
                       shuffled.begin() + long(j * 188));
    }
  }
  cases.push_back({"shuffled", shuffled});
  auto no_tables = clean;
  for (size_t k = 0; k + 188 <= no_tables.size(); k += 188) {
    const int pid = ((no_tables[k + 1] & 0x1F) << 8) | no_tables[k + 2];
    if (pid == 0 || pid == 4096) no_tables[k + 2] = 0xFF, no_tables[k + 1] |= 0x1F;  // null packets
  }
  cases.push_back({"no_pat_pmt", no_tables});
  auto no_pmt = clean;
  for (size_t k = 0; k + 188 <= no_pmt.size(); k += 188) {
    const int pid = ((no_pmt[k + 1] & 0x1F) << 8) | no_pmt[k + 2];
    if (pid == 4096) no_pmt[k + 2] = 0xFF, no_pmt[k + 1] |= 0x1F;
  }
  cases.push_back({"no_pmt", no_pmt});
  auto lying = clean;
  for (size_t k = 0; k + 188 <= lying.size(); k += 188)
    if (lying[k + 1] & 0x40) {  // PES starts: lie about lengths and cut headers
      lying[k + 8] = uint8_t(rng());
      lying[k + 9] = uint8_t(rng());
      lying[k + 12] = 0xFF;
    }
  cases.push_back({"lying_pes", lying});
  for (auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    const std::string path = dir + "/" + name + ".ts";
    ASSERT_TRUE(write_file(path, bytes));
    exercise(path);
  }
}

TEST(TransportDamage, MissingTablesStillOpenFromPes) {
  TraceCapture quiet;
  auto bytes = read_file(fixture("ts_m2.ts"));
  for (size_t k = 0; k + 188 <= bytes.size(); k += 188) {
    const int pid = ((bytes[k + 1] & 0x1F) << 8) | bytes[k + 2];
    if (pid == 0 || pid == 4096) bytes[k + 2] = 0xFF, bytes[k + 1] |= 0x1F;
  }
  const std::string path = temp_dir() + "/nopat.ts";
  ASSERT_TRUE(write_file(path, bytes));
  auto d = open_ts(path);
  ASSERT_TRUE(d);
  int n = 0;
  ESData* es = d->get_es_data(&n);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(es[0].pid + es[1].pid, 256 + 257);
  ASSERT_TRUE(d->get_pmt(0));
  EXPECT_EQ(d->get_pmt(0)->es_count, 2);
}

}  // namespace
