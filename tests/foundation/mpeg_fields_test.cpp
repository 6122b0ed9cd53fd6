#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/mpeg_fields.h"
#include "support/support.h"

namespace {

// ---- independent readers of the time-stamp fields ---------------------------

// PES PTS/DTS: pppp b32..30 1 | b29..22 | b21..15 1 | b14..7 | b6..0 1
uint64_t read_pts(const uint8_t* p) {
  return (uint64_t((p[0] >> 1) & 7) << 30) | (uint64_t(p[1]) << 22) | (uint64_t(p[2] >> 1) << 15) |
         (uint64_t(p[3]) << 7) | (p[4] >> 1);
}
// Pack SCR: 01 b32..30 1 b29..28 | b27..20 | b19..15 1 b14..13 | b12..5 | b4..0 1 e8..7 | e6..0 1
void read_scr(const uint8_t* p, uint64_t* base, int* ext) {
  *base = (uint64_t((p[0] >> 3) & 7) << 30) | (uint64_t(p[0] & 3) << 28) | (uint64_t(p[1]) << 20) |
          (uint64_t(p[2] >> 3) << 15) | (uint64_t(p[2] & 3) << 13) | (uint64_t(p[3]) << 5) | (p[4] >> 3);
  *ext = ((p[4] & 3) << 7) | (p[5] >> 1);
}
// PCR: b32..25 | b24..17 | b16..9 | b8..1 | b0 rrrrrr e8 | e7..0
void read_pcr(const uint8_t* p, uint64_t* base, int* ext) {
  *base = (uint64_t(p[0]) << 25) | (uint64_t(p[1]) << 17) | (uint64_t(p[2]) << 9) | (uint64_t(p[3]) << 1) | (p[4] >> 7);
  *ext = ((p[4] & 1) << 8) | p[5];
}

std::vector<uint8_t> bytes(const uint8_t* p, size_t n) { return std::vector<uint8_t>(p, p + n); }

// Checks the PTS and DTS of the PES header at p (n bytes available);
// counts the fields checked.
void check_pes_time_stamps(const uint8_t* p, size_t n, int* checked) {
  if (n < 9 || p[0] != 0 || p[1] != 0 || p[2] != 1) return;
  const int id = p[3];
  if (!((id >= 0xC0 && id <= 0xEF) || id == 0xBD)) return;
  if ((p[6] & 0xC0) != 0x80) return;  // MPEG-2 PES header only
  const int flags = p[7] >> 6;
  if (flags < 2 || n < size_t(9 + (flags == 3 ? 10 : 5))) return;
  for (int k = 0; k < (flags == 3 ? 2 : 1); ++k) {
    const uint8_t* f = p + 9 + 5 * k;
    uint8_t out[5];
    ASSERT_EQ(encode_pts(double(read_pts(f)), out), 5);
    out[0] |= f[0] & 0xF0;  // the caller's prefix nibble
    EXPECT_EQ(bytes(out, 5), bytes(f, 5)) << "stream 0x" << std::hex << id;
    ++*checked;
  }
}

}  // namespace

TEST(MpegFields, FrameRateTable) {
  const double rates[9] = {0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
  for (int code = 1; code <= 8; ++code) {
    EXPECT_DOUBLE_EQ(mpeg_get_frame_rate(code), rates[code]) << code;
    EXPECT_EQ(mpeg_find_frame_rate_code(rates[code]), code);
    EXPECT_EQ(mpeg_is_valid_frame_rate_code(code), 1);
  }
  for (int code : {-1, 0, 9, 15}) {
    EXPECT_DOUBLE_EQ(mpeg_get_frame_rate(code), 30000.0 / 1001) << code;
    EXPECT_EQ(mpeg_is_valid_frame_rate_code(code), 0);
  }
  EXPECT_EQ(mpeg_get_frame_rate_code(12.5), 4);
  EXPECT_EQ(mpeg_find_frame_rate_code(12.5), 0);
  EXPECT_EQ(mpeg_find_frame_rate_code(29.97), 4);  // within 0.0001 of 30000/1001
  EXPECT_EQ(mpeg_find_frame_rate_code(29.9), 0);
  EXPECT_EQ(mpeg_find_frame_rate_code(NAN), 0);

  const struct {
    double rate;
    int gop;
  } gops[] = {{23.976, 12}, {25, 12}, {25.9, 15}, {29.97, 15}, {30, 15}, {49.8, 15},
              {49.9, 25},   {50, 25}, {59.94, 30}, {60, 30},   {0, 12},   {1e30, 30}};
  for (const auto& g : gops) EXPECT_EQ(mpeg_get_default_gop_size(g.rate), g.gop) << g.rate;
}

TEST(MpegFields, StreamTypeNamesAndPmtTypes) {
  const char* names[] = {"Unknown",        "MPEG-1 Audio",     "MPEG-1 Video",        "MPEG-2 Video",
                         "MPEG-1 System",  "MPEG-1 Video CD",  "MPEG-2 Program",      "MPEG-2 Program SVCD",
                         "MPEG-2 Transport", "AC-3 Audio",     "Linear PCM",          "MPEG-2 Audio"};
  for (int code = 0; code <= 11; ++code) EXPECT_STREQ(get_stream_type_name(code), names[code]);
  EXPECT_STREQ(get_stream_type_name(12), "Unknown");
  EXPECT_STREQ(get_stream_type_name(-1), "Unknown");

  EXPECT_EQ(stream_type_from_pmt_type(1), 2);
  EXPECT_EQ(stream_type_from_pmt_type(2), 3);
  EXPECT_EQ(stream_type_from_pmt_type(3), 1);
  EXPECT_EQ(stream_type_from_pmt_type(4), 11);
  EXPECT_EQ(stream_type_from_pmt_type(0x81), 0);
  EXPECT_EQ(stream_type_from_pmt_type(0), 0);
}

TEST(MpegFields, VideoComplianceChecksAtTheirBoundaries) {
  const double ntsc = 30000.0 / 1001, pal = 25;
  const struct {
    int mpeg2, bit_rate;
    double rate;
    int w, h, dvd, vcd, svcd;
  } cases[] = {
      {1, 9800000, pal, 720, 576, 1, 0, 0},   {1, 9800001, pal, 720, 576, 0, 0, 0},
      {1, 6000000, pal, 704, 576, 1, 0, 0},   {1, 6000000, pal, 352, 576, 1, 0, 1},
      {1, 6000000, pal, 352, 288, 1, 0, 0},   {1, 6000000, pal, 480, 576, 0, 0, 1},
      {1, 6000000, pal, 720, 480, 0, 0, 0},   {1, 6000000, ntsc, 720, 480, 1, 0, 0},
      {1, 6000000, ntsc, 352, 240, 1, 0, 0},  {1, 6000000, ntsc, 704, 240, 0, 0, 0},
      {1, 2000000, ntsc, 480, 480, 0, 0, 1},  {1, 2000000, 29.97, 480, 480, 0, 0, 1},
      {1, 2000000, 30, 720, 480, 0, 0, 0},    {1, 2000000, 24, 720, 480, 0, 0, 0},
      {0, 1150000, pal, 352, 288, 1, 1, 0},   {0, 1152000, ntsc, 352, 240, 1, 1, 0},
      {0, 1152001, ntsc, 352, 240, 1, 0, 0},  {0, 1150000, pal, 352, 240, 0, 0, 0},
      {0, 1150000, pal, 720, 576, 0, 0, 0},   {0, 1150000, 30, 352, 240, 0, 0, 0},
      // A rate that is not an MPEG rate is neither NTSC nor PAL.
      {1, 6000000, 12.0, 720, 480, 0, 0, 0},  {0, 1150000, 12.0, 352, 240, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mpeg2 << " " << c.bit_rate << " " << c.rate << " " << c.w << "x" << c.h);
    EXPECT_EQ(check_dvd_video(c.mpeg2, c.bit_rate, c.rate, c.w, c.h), c.dvd);
    EXPECT_EQ(check_vcd_video(c.bit_rate, c.rate, c.w, c.h), c.vcd);
    EXPECT_EQ(check_svcd_video(c.mpeg2, c.rate, c.w, c.h), c.svcd);
  }
}

TEST(MpegFields, VideoFixesMakeStreamsPassTheirCheck) {
  const double ntsc = 30000.0 / 1001;
  {
    int br = 500000, w = 500, h = 300;
    double rate = 23.976;
    fix_dvd_video(1, &br, &rate, &w, &h);
    EXPECT_EQ(br, 1150000);
    EXPECT_DOUBLE_EQ(rate, 25);
    EXPECT_EQ(w, 720);
    EXPECT_EQ(h, 576);
  }
  const struct {
    int mpeg2, br;
    double rate;
    int w, h;
    int want_br;
    double want_rate;
    int want_w, want_h;
  } dvd[] = {
      {1, 20000000, 29.0, 200, 100, 9800000, ntsc, 352, 480},
      {1, 5000000, 50.0, 704, 100, 5000000, ntsc, 704, 480},
      {1, 5000000, 26.0, 353, 100, 5000000, 25, 720, 576},
      {0, 900000, 30.0, 720, 480, 1150000, ntsc, 352, 240},
      {0, 5000000, 25.0, 720, 480, 5000000, 25, 352, 288},  // MPEG-1: no upper limit
  };
  for (const auto& c : dvd) {
    int br = c.br, w = c.w, h = c.h;
    double rate = c.rate;
    fix_dvd_video(c.mpeg2, &br, &rate, &w, &h);
    EXPECT_EQ(br, c.want_br);
    EXPECT_DOUBLE_EQ(rate, c.want_rate);
    EXPECT_EQ(w, c.want_w);
    EXPECT_EQ(h, c.want_h);
    if (c.mpeg2) {
      EXPECT_EQ(check_dvd_video(c.mpeg2, br, rate, w, h), 1);
    }
  }
  for (double in : {12.0, 24.0, 25.0, 26.5, 29.97, 30000.0 / 1001, 50.0, 60.0}) {
    int br = 3000000, w = 720, h = 576;
    double rate = in;
    fix_vcd_video(&br, &rate, &w, &h);
    EXPECT_EQ(check_vcd_video(br, rate, w, h), 1) << in;
    EXPECT_EQ(br, 1150000);
    rate = in;
    fix_svcd_video(&rate, &w, &h);
    EXPECT_EQ(check_svcd_video(1, rate, w, h), 1) << in;
    EXPECT_EQ(w, 480);
  }
  // A rate already PAL or NTSC is kept as given (29.97 is within 0.0001).
  double rate = 29.97;
  int br = 0, w = 0, h = 0;
  fix_vcd_video(&br, &rate, &w, &h);
  EXPECT_DOUBLE_EQ(rate, 29.97);
  EXPECT_EQ(h, 240);
}

TEST(MpegFields, AudioComplianceChecksAndFixes) {
  const struct {
    int layer, sr, ch, br, dvd, vcd, svcd;
  } cases[] = {
      {2, 48000, 1, 64000, 1, 0, 0},   {2, 48000, 1, 192000, 1, 0, 0}, {2, 48000, 1, 224000, 0, 0, 0},
      {2, 48000, 2, 384000, 1, 0, 0},  {2, 48000, 2, 384001, 0, 0, 0}, {2, 48000, 2, 56000, 0, 0, 0},
      {1, 48000, 2, 224000, 0, 0, 0},  {2, 44100, 2, 224000, 0, 1, 1}, {2, 44100, 2, 192000, 0, 0, 1},
      {2, 44100, 1, 224000, 0, 0, 0},  {2, 44100, 1, 32000, 0, 0, 1},  {2, 44100, 2, 32000, 0, 0, 0},
      {3, 44100, 2, 224000, 0, 0, 0},  {2, 32000, 2, 224000, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.layer << " " << c.sr << " " << c.ch << " " << c.br);
    EXPECT_EQ(check_dvd_audio(c.layer, c.sr, c.ch, c.br), c.dvd);
    EXPECT_EQ(check_vcd_audio(c.layer, c.sr, c.ch, c.br), c.vcd);
    EXPECT_EQ(check_svcd_audio(c.layer, c.sr, c.ch, c.br), c.svcd);
  }
  const struct {
    int ch, br, want_ch, want_br;
  } dvd[] = {{1, 64000, 1, 128000}, {1, 500000, 1, 192000}, {1, 160000, 1, 160000},
             {2, 64000, 2, 224000}, {6, 448000, 2, 384000}, {2, 256000, 2, 256000}};
  for (const auto& c : dvd) {
    int layer = 1, sr = 44100, ch = c.ch, br = c.br;
    fix_dvd_audio(&layer, &sr, &ch, &br);
    EXPECT_EQ(ch, c.want_ch);
    EXPECT_EQ(br, c.want_br);
    EXPECT_EQ(check_dvd_audio(layer, sr, ch, br), 1);
  }
  for (int ch : {1, 2, 6})
    for (int in : {8000, 32000, 64000, 192000, 256000, 384000, 448000}) {
      int layer = 3, sr = 48000, c = ch, br = in;
      fix_svcd_audio(&layer, &sr, &c, &br);
      EXPECT_EQ(check_svcd_audio(layer, sr, c, br), 1) << ch << " " << in;
      const bool keep = ch == 2 ? in >= 64000 && in <= 384000 : in >= 32000 && in <= 192000;
      if (keep || ch == 2) {
        EXPECT_EQ(br, keep ? in : 224000);  // a replaced mono rate only has to pass the check
      }
      layer = 3, sr = 48000, c = ch, br = in;
      fix_vcd_audio(&layer, &sr, &c, &br);
      EXPECT_EQ(check_vcd_audio(layer, sr, c, br), 1);
    }
}

TEST(MpegFields, SplitScrAndFieldLayouts) {
  uint32_t low = 0;
  int ext = -1;
  EXPECT_EQ(split_scr(4294967296.0 + 1.5, &low, &ext), 1);
  EXPECT_EQ(low, 1u);
  EXPECT_EQ(ext, 150);
  EXPECT_EQ(split_scr(4294967295.0, &low, nullptr), 0);
  EXPECT_EQ(low, 0xFFFFFFFFu);
  // base + ext / 300 gives ext back although x / 300 is inexact in binary.
  for (double base : {0.0, 12345.0, 4294967296.0 + 77, 8589934591.0})
    for (int e = 0; e < 300; ++e) {
      split_scr(base + e / 300.0, &low, &ext);
      ASSERT_EQ(ext, e) << base;
    }
  // A negative time gives the 33-bit field that reads back as that value.
  EXPECT_EQ(split_scr(-1.0, &low, &ext), 1);
  EXPECT_EQ(low, 0xFFFFFFFFu);

  uint8_t out[6];
  EXPECT_EQ(encode_pts(0, out), 5);
  EXPECT_EQ(bytes(out, 5), (std::vector<uint8_t>{0x01, 0x00, 0x01, 0x00, 0x01}));
  // All-ones base: 111 | 11111111 | 1111111 | 11111111 | 1111111 plus markers.
  encode_pts(8589934591.0, out);
  EXPECT_EQ(bytes(out, 5), (std::vector<uint8_t>{0x0F, 0xFF, 0xFF, 0xFF, 0xFF}));

  // Base 0x1'2345'6789, extension 171, drawn bit by bit:
  //   SCR: 01 100 1 100011010001010 1 110011110001001 1 010101011 1
  const double t = double(0x123456789ull) + 171 / 300.0;
  EXPECT_EQ(encode_scr(t, out), 6);
  EXPECT_EQ(bytes(out, 6), (std::vector<uint8_t>{0x66, 0x34, 0x57, 0x3C, 0x4D, 0x57}));
  //   PCR: 100100011010001010110011110001001 111111 010101011
  EXPECT_EQ(encode_pcr(t, out), 6);
  EXPECT_EQ(bytes(out, 6), (std::vector<uint8_t>{0x91, 0xA2, 0xB3, 0xC4, 0xFE, 0xAB}));
}

TEST(MpegFields, CrcByteStepAndBufferAgree) {
  EXPECT_EQ(mpeg_crc32(nullptr, 0), 0xFFFFFFFFu);
  // Check value of CRC-32/MPEG-2 over "123456789".
  const uint8_t text[] = "123456789";
  EXPECT_EQ(mpeg_crc32(text, 9), 0x0376E6E7u);
  uint32_t crc = 0xFFFFFFFF;
  for (int i = 0; i < 9; ++i) crc = mpeg_crc32_byte(text[i], crc);
  EXPECT_EQ(crc, 0x0376E6E7u);
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 131 + 7);
  crc = 0xFFFFFFFF;
  for (uint8_t b : data) crc = mpeg_crc32_byte(b, crc);
  EXPECT_EQ(mpeg_crc32(data.data(), data.size()), crc);
}

TEST(MpegFields, SearchRange) {
  const struct {
    int w, h, x, y;
  } cases[] = {{720, 576, 15, 15}, {352, 240, 7, 7}, {352, 288, 7, 7}, {480, 480, 11, 15},
               {1920, 1080, 15, 15}, {0, 0, 7, 7}, {-50, -50, 7, 7}, {640, 360, 15, 11}};
  for (const auto& c : cases) {
    int x = 0, y = 0;
    mpeg_get_search_range(c.w, c.h, &x, &y);
    EXPECT_EQ(x, c.x) << c.w;
    EXPECT_EQ(y, c.y) << c.h;
  }
}

// Every PAT and PMT section of an ffmpeg transport stream, CRC field
// included, gives a CRC of 0; one flipped bit does not.
TEST(MpegFields, CrcOfTransportStreamSectionsIsZero) {
  const std::vector<uint8_t> ts = tsupport::read_file(tsupport::fixture("fields.ts"));
  ASSERT_GE(ts.size(), 188u * 10);
  int pmt_pid = -1, pat_sections = 0, pmt_sections = 0;
  for (size_t at = 0; at + 188 <= ts.size(); at += 188) {
    const uint8_t* p = &ts[at];
    ASSERT_EQ(p[0], 0x47) << at;
    const int pid = ((p[1] & 0x1F) << 8) | p[2];
    const bool start = p[1] & 0x40;
    if (!start || (pid != 0 && pid != pmt_pid)) continue;
    int payload = 4;
    if (p[3] & 0x20) payload += 1 + p[4];
    if (!(p[3] & 0x10) || payload >= 188) continue;
    payload += 1 + p[payload];  // pointer_field
    const uint8_t* s = p + payload;
    const int section_length = ((s[1] & 0x0F) << 8) | s[2];
    ASSERT_LE(payload + 3 + section_length, 188) << "section in one packet";
    const size_t n = size_t(3 + section_length);
    EXPECT_EQ(mpeg_crc32(s, n), 0u) << "pid " << pid << " at " << at;
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < n; ++i) crc = mpeg_crc32_byte(s[i], crc);
    EXPECT_EQ(crc, 0u);
    std::vector<uint8_t> flipped(s, s + n);
    flipped[n / 2] ^= 0x10;
    EXPECT_NE(mpeg_crc32(flipped.data(), n), 0u);
    if (pid == 0) {
      ++pat_sections;
      ASSERT_EQ(s[0], 0x00);
      // first program entry after the 8-byte header: program_number, PMT PID
      if (((s[8] << 8) | s[9]) != 0) pmt_pid = ((s[10] & 0x1F) << 8) | s[11];
    } else {
      ++pmt_sections;
      EXPECT_EQ(s[0], 0x02);
    }
  }
  EXPECT_GT(pat_sections, 0);
  EXPECT_GT(pmt_sections, 0);
}

// PTS/DTS from PES headers and PCRs from adaptation fields of an ffmpeg
// transport stream re-encode to the same bytes, markers and reserved bits
// included.
TEST(MpegFields, TransportTimeStampsReencodeIdentically) {
  const std::vector<uint8_t> ts = tsupport::read_file(tsupport::fixture("fields.ts"));
  int pcrs = 0, stamps = 0, nonzero_ext = 0;
  for (size_t at = 0; at + 188 <= ts.size(); at += 188) {
    const uint8_t* p = &ts[at];
    int payload = 4;
    if (p[3] & 0x20) {
      const int af_length = p[4];
      if (af_length >= 7 && (p[5] & 0x10)) {
        uint64_t base;
        int ext;
        read_pcr(p + 6, &base, &ext);
        uint8_t out[6];
        ASSERT_EQ(encode_pcr(double(base) + ext / 300.0, out), 6);
        EXPECT_EQ(bytes(out, 6), bytes(p + 6, 6)) << "PCR at " << at;
        ++pcrs;
        nonzero_ext += ext != 0;
      }
      payload += 1 + af_length;
    }
    if ((p[1] & 0x40) && (p[3] & 0x10) && payload < 188) check_pes_time_stamps(p + payload, 188 - payload, &stamps);
  }
  EXPECT_GT(pcrs, 10);
  EXPECT_GT(nonzero_ext, 0) << "no PCR exercised the extension";
  EXPECT_GT(stamps, 50);
}

// SCRs of MPEG-2 pack headers and PES PTS/DTS of an ffmpeg program stream.
TEST(MpegFields, ProgramStreamTimeStampsReencodeIdentically) {
  const std::vector<uint8_t> ps = tsupport::read_file(tsupport::fixture("fields.vob"));
  int packs = 0, stamps = 0;
  size_t at = 0;
  while (at + 14 <= ps.size()) {
    const uint8_t* p = &ps[at];
    ASSERT_TRUE(p[0] == 0 && p[1] == 0 && p[2] == 1) << "lost sync at " << at;
    if (p[3] == 0xB9) break;
    if (p[3] == 0xBA) {
      ASSERT_EQ(p[4] & 0xC0, 0x40) << "MPEG-2 pack header";
      uint64_t base;
      int ext;
      read_scr(p + 4, &base, &ext);
      uint8_t out[6];
      ASSERT_EQ(encode_scr(double(base) + ext / 300.0, out), 6);
      EXPECT_EQ(bytes(out, 6), bytes(p + 4, 6)) << "SCR at " << at;
      ++packs;
      at += 14 + (p[13] & 7);
      continue;
    }
    check_pes_time_stamps(p, ps.size() - at, &stamps);
    at += 6 + ((p[4] << 8) | p[5]);
  }
  EXPECT_GT(packs, 10);
  EXPECT_GT(stamps, 50);
}

// The streams of ffmpeg's -target presets meet the matching rules (and only
// those): sizes, rates and audio from ffprobe, the video bit rate from the
// first sequence header.
TEST(MpegFields, FfmpegTargetsMeetTheirComplianceSets) {
  const struct {
    const char* target;
    int video[3], audio[3];  // expected DVD, VCD, SVCD verdicts
  } cases[] = {
      {"pal-vcd", {1, 1, 0}, {0, 1, 1}},  {"ntsc-vcd", {1, 1, 0}, {0, 1, 1}},
      {"pal-svcd", {0, 0, 1}, {0, 1, 1}}, {"ntsc-svcd", {0, 0, 1}, {0, 1, 1}},
      {"pal-dvd", {1, 0, 0}, {1, 0, 0}},  {"ntsc-dvd", {1, 0, 0}, {1, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    const std::string base = std::string("fields_") + c.target;
    const std::vector<uint8_t> raw = tsupport::read_file(tsupport::fixture(base + ".txt"));
    const std::string text(raw.begin(), raw.end());
    std::string video, audio;
    for (const std::string& line : tsupport::split_lines(text)) {
      const std::string codec = tsupport::field(line, "codec_name");
      if (codec == "mpeg1video" || codec == "mpeg2video") video = line;
      if (codec == "mp2") audio = line;
    }
    ASSERT_FALSE(video.empty() || audio.empty()) << text;
    const std::vector<uint8_t> ps = tsupport::read_file(tsupport::fixture(base + ".mpg"));
    size_t seq = 0;
    while (seq + 12 <= ps.size() && !(ps[seq] == 0 && ps[seq + 1] == 0 && ps[seq + 2] == 1 && ps[seq + 3] == 0xB3))
      ++seq;
    ASSERT_LE(seq + 12, ps.size());
    const int bit_rate = ((ps[seq + 8] << 10) | (ps[seq + 9] << 2) | (ps[seq + 10] >> 6)) * 400;

    const int mpeg2 = tsupport::field(video, "codec_name") == "mpeg2video";
    const int w = int(tsupport::field_int(video, "width")), h = int(tsupport::field_int(video, "height"));
    const std::string r = tsupport::field(video, "r_frame_rate");
    const double rate = std::stod(r.substr(0, r.find('/'))) / std::stod(r.substr(r.find('/') + 1));
    EXPECT_EQ(check_dvd_video(mpeg2, bit_rate, rate, w, h), c.video[0]) << video << " " << bit_rate;
    EXPECT_EQ(check_vcd_video(bit_rate, rate, w, h), c.video[1]) << video << " " << bit_rate;
    EXPECT_EQ(check_svcd_video(mpeg2, rate, w, h), c.video[2]) << video;

    const int sr = int(tsupport::field_int(audio, "sample_rate")), ch = int(tsupport::field_int(audio, "channels"));
    const int abr = int(tsupport::field_int(audio, "bit_rate"));
    EXPECT_EQ(check_dvd_audio(2, sr, ch, abr), c.audio[0]) << audio;
    EXPECT_EQ(check_vcd_audio(2, sr, ch, abr), c.audio[1]) << audio;
    EXPECT_EQ(check_svcd_audio(2, sr, ch, abr), c.audio[2]) << audio;
  }
}
