#include "foundation/ac3.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "foundation/audio_info.h"
#include "foundation/bitstream.h"
#include "support/support.h"

namespace {

// syncinfo and bsi of a frame, no CRC (the body stays zero):
//   0B77 | crc1(16) | fscod(2) frmsizecod(6) | bsid(5) bsmod(3) | acmod(3)
//   [cmixlev(2)] [surmixlev(2)] [dsurmod(2)] lfeon(1) dialnorm(5) compre(1)
//   langcode(1) audprodie(1) [1+1 fields] copyrightb(1) origbs(1)
//   timecod1e(1) timecod2e(1) addbsie(1)
std::vector<uint8_t> header(int fscod, int frmsizecod, int bsid = 8, int acmod = 2, int lfeon = 0, size_t size = 64) {
  std::vector<uint8_t> v(size, 0);
  BitWriter w(v.data(), v.size());
  w.put_bits(0x0B77, 16);
  w.put_bits(0, 16);
  w.put_bits(fscod, 2);
  w.put_bits(frmsizecod, 6);
  w.put_bits(bsid, 5);
  w.put_bits(0, 3);
  w.put_bits(acmod, 3);
  if ((acmod & 1) && acmod != 1) w.put_bits(1, 2);
  if (acmod & 4) w.put_bits(1, 2);
  if (acmod == 2) w.put_bits(2, 2);
  w.put_bits(lfeon, 1);
  w.put_bits(27, 5);
  w.put_bits(0, 1);
  w.put_bits(1, 1);  // langcode
  w.put_bits(9, 8);  // English
  w.put_bits(0, 1);
  if (acmod == 0) {
    w.put_bits(27, 5);
    w.put_bits(0, 1);
    w.put_bits(1, 1);
    w.put_bits(15, 8);  // French
    w.put_bits(0, 1);
  }
  w.put_bits(0, 5);
  w.flush();
  return v;
}

std::vector<uint8_t> fixture_bytes(const std::string& name) { return tsupport::read_file(tsupport::fixture(name)); }

TEST(AC3Bsi, RatesSizesAndChannels) {
  struct Row {
    int fscod, frmsizecod, bsid, acmod, lfeon;
    int sample_rate, bit_rate, frame_size, channels;
  };
  const Row rows[] = {
      {0, 0, 8, 2, 0, 48000, 32000, 128, 2},    {1, 0, 8, 2, 0, 44100, 32000, 138, 2},
      {1, 1, 8, 2, 0, 44100, 32000, 140, 2},    {2, 0, 8, 2, 0, 32000, 32000, 192, 2},
      {0, 28, 8, 7, 1, 48000, 384000, 1536, 6}, {1, 29, 8, 7, 1, 44100, 384000, 1672, 6},
      {0, 37, 8, 1, 0, 48000, 640000, 2560, 1}, {2, 37, 8, 0, 0, 32000, 640000, 3840, 2},
      {0, 10, 9, 3, 0, 24000, 80000, 320, 3},  // half rate: the bit rate is not scaled
      {0, 10, 10, 6, 1, 12000, 80000, 320, 5},  {1, 28, 6, 4, 0, 44100, 384000, 1670, 3},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "fscod " << r.fscod << " frmsizecod " << r.frmsizecod << " bsid " << r.bsid);
    const auto v = header(r.fscod, r.frmsizecod, r.bsid, r.acmod, r.lfeon);
    AC3FrmHdr h;
    ASSERT_EQ(h.decode(v.data(), int(v.size()), 0), 0);
    ASSERT_EQ(h.valid, 1);
    EXPECT_EQ(h.sample_rate, r.sample_rate);
    EXPECT_EQ(h.bit_rate, r.bit_rate);
    EXPECT_EQ(h.frame_size, r.frame_size);
    EXPECT_EQ(h.get_channels(), r.channels);
    EXPECT_EQ(h.channels, 2);
    EXPECT_EQ(h.bsi.langcod, 9);
  }
  AC3FrmHdr h;
  const auto dual = header(0, 8, 8, 0);
  ASSERT_EQ(h.decode(dual.data(), int(dual.size()), 0), 0);
  EXPECT_EQ(h.bsi.langcod2, 15);
}

TEST(AC3FrmHdr, IllegalCodesAreSteppedOver) {
  // A would-be header with fscod 3 two bytes in front of the true frame.
  auto v = header(0, 8, 8, 2, 0, 80);
  std::vector<uint8_t> bad = {0x0B, 0x77, 0x00, 0x00, 0xC0 | 8};
  v.insert(v.begin(), bad.begin(), bad.end());
  tsupport::TraceCapture trace;
  AC3FrmHdr h;
  EXPECT_EQ(h.decode(v.data(), int(v.size()), 0), 5);
  EXPECT_EQ(h.valid, 1);
  EXPECT_TRUE(trace.contains("illegal code: fscod = 3"));

  const auto big = header(0, 38);
  h.decode(big.data(), int(big.size()), 0);
  EXPECT_EQ(h.valid, 0);
  EXPECT_TRUE(trace.contains("illegal code: frmsizecod = 38"));
  const auto eac3 = header(0, 8, 16);
  h.decode(eac3.data(), int(eac3.size()), 0);
  EXPECT_EQ(h.valid, 0) << "bsid 16 is Enhanced AC-3";

  EXPECT_EQ(h.decode(v.data(), 4, 0), 0);
  EXPECT_EQ(h.valid, 0);
  EXPECT_TRUE(trace.contains("bytes = 4 (<5)"));
  std::vector<uint8_t> none(100, 0x0B);
  h.decode(none.data(), int(none.size()), 0);
  EXPECT_EQ(h.valid, 0);
}

TEST(AC3FrmHdr, CrcChecksBothParts) {
  const auto file = fixture_bytes("ac3_48000_2ch.ac3");
  ASSERT_GT(file.size(), 4000u);
  AC3FrmHdr h;
  ASSERT_EQ(h.decode(file.data(), int(file.size()), kAC3CheckCrc), 0);
  ASSERT_EQ(h.valid, 1);
  const int fs = h.frame_size;
  EXPECT_EQ(check_crc(fs, file.data(), int(file.size())), 0);
  EXPECT_EQ(check_crc(fs, file.data(), fs - 1), 0xFFFF);

  tsupport::TraceCapture trace;
  auto late = file;
  late[size_t(fs) - 10] ^= 0x40;  // after the first 5/8
  EXPECT_NE(check_crc(fs, late.data(), int(late.size())), 0);
  EXPECT_TRUE(trace.contains("crc2"));
  // Not valid, and the search does not go on to the next (good) frame.
  EXPECT_EQ(h.decode(late.data(), int(late.size()), kAC3CheckCrc), 0);
  EXPECT_EQ(h.valid, 0);
  EXPECT_TRUE(trace.contains("CRC error detected"));
  // Without the CRC flag the header is taken.
  EXPECT_EQ(h.decode(late.data(), int(late.size()), 0), 0);
  EXPECT_EQ(h.valid, 1);
  // A frame shorter than the buffer holds skips the check.
  EXPECT_EQ(h.decode(late.data(), fs - 20, kAC3CheckCrc), 0);
  EXPECT_EQ(h.valid, 1);

  auto early = file;
  early[40] ^= 0x01;
  EXPECT_NE(check_crc(fs, early.data(), int(early.size())), 0);
  EXPECT_TRUE(trace.contains("crc1"));
}

TEST(AC3FrmHdr, CompareAndMaxFrameSize) {
  const auto v = header(1, 20);  // 44.1 kHz, 192 kbit/s: 834 bytes
  AC3FrmHdr a;
  a.decode(v.data(), int(v.size()), 0);
  EXPECT_EQ(a.frame_size, 834);
  EXPECT_EQ(a.get_max_frame_size(), 836);
  AC3FrmHdr b = a;
  b.frame_size = 836;
  EXPECT_TRUE(a.equals(b)) << "44.1 kHz frames alternate in length";
  b.frame_size = 837;
  EXPECT_FALSE(a.equals(b));
  EXPECT_EQ(a.compare(b), 8);
  b = a;
  b.bit_rate = 224000;
  EXPECT_EQ(a.compare(b), 2);
  const auto six = header(1, 20, 8, 7, 1);
  b.decode(six.data(), int(six.size()), 0);
  EXPECT_EQ(a.compare(b) & 1, 1);

  const auto w48 = header(0, 20);
  AC3FrmHdr c;
  c.decode(w48.data(), int(w48.size()), 0);
  b = c;
  b.frame_size += 2;
  EXPECT_FALSE(c.equals(b)) << "only 44.1 kHz has a tolerance";
  EXPECT_EQ(c.get_max_frame_size(), 768);
  AC3FrmHdr empty;
  EXPECT_EQ(empty.get_max_frame_size(), 1792);
  EXPECT_EQ(empty.sample_rate, 48000);
}

TEST(AC3FrmHdr, FrameRunsAndMatchingSearch) {
  const auto two = fixture_bytes("ac3_48000_2ch.ac3");
  const auto six = fixture_bytes("ac3_48000_6ch.ac3");
  AC3FrmHdr h;
  ASSERT_EQ(ac3_check_frames(&h, two.data(), int(two.size()), 3, 0), 1);
  EXPECT_EQ(h.first_offset, 0);
  EXPECT_EQ(h.checked_bytes, 3 * h.frame_size);
  const int fs2 = h.frame_size;

  // Junk in front, and exactly three frames behind it.
  std::vector<uint8_t> v(77, 0x0B);
  v.insert(v.end(), two.begin(), two.begin() + 4 * fs2);
  ASSERT_EQ(ac3_check_frames(&h, v.data(), int(v.size()), 3, 0), 1);
  EXPECT_EQ(h.first_offset, 77);

  // A damaged second frame breaks the run.
  auto bad = std::vector<uint8_t>(two.begin(), two.begin() + 3 * fs2);
  bad[size_t(fs2) + 100] ^= 0xFF;
  EXPECT_EQ(ac3_check_frames(&h, bad.data(), int(bad.size()), 3, 0), 0);
  std::vector<uint8_t> noise(5000);
  std::mt19937 rng(1);
  for (auto& b : noise) b = uint8_t(rng());
  EXPECT_EQ(ac3_check_frames(&h, noise.data(), int(noise.size()), 2, 0), 0);
  EXPECT_EQ(h.first_offset, 0);

  // The 2.0 reference finds its frame behind 5.1 frames.
  AC3FrmHdr ref, found;
  ref.decode(two.data(), int(two.size()), 0);
  AC3FrmHdr six_hdr;
  six_hdr.decode(six.data(), int(six.size()), 0);
  std::vector<uint8_t> mixed(six.begin(), six.begin() + 2 * six_hdr.frame_size);
  mixed.insert(mixed.end(), two.begin(), two.begin() + fs2);
  EXPECT_EQ(ac3_find_frame(ref, mixed.data(), int(mixed.size()), &found), 2 * six_hdr.frame_size);
  EXPECT_EQ(found.valid, 1);
  EXPECT_EQ(found.get_channels(), 2);
  ac3_find_frame(ref, six.data(), 4 * six_hdr.frame_size, &found);
  EXPECT_EQ(found.valid, 0);
}

TEST(AC3FrmHdr, AudioInfo) {
  const auto six = fixture_bytes("ac3_44100_6ch.ac3");
  AudioInfo info;
  int len = 20000;
  ASSERT_EQ(ac3_audio_info(six.data(), &len, &info), 1);
  EXPECT_EQ(info.layer, 0);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.full_channels, 6);
  EXPECT_EQ(info.sample_rate, 44100);
  EXPECT_EQ(info.bit_rate, 384000);
  EXPECT_EQ(info.stream_id, 128);
  EXPECT_EQ(info.get_audio_type(), AUDIO_TYPE_AC3);
  EXPECT_DOUBLE_EQ(info.get_frame_duration(), 1536.0 / 44100);
  EXPECT_LT(len, 20000);
  len = 20000;
  EXPECT_EQ(ac3_audio_info(six.data(), &len, &info), 0) << "unchanged";
  len = 0;
  EXPECT_EQ(ac3_audio_info(six.data(), &len, &info), 0);
  EXPECT_EQ(ac3_audio_info(nullptr, &len, &info), 0);
}

TEST(AC3, LanguageNamesAndBitRateIndex) {
  EXPECT_STREQ(ac3_language_name(9), "English");
  EXPECT_STREQ(ac3_language_name(64), "background sound/clean feed");
  EXPECT_STREQ(ac3_language_name(127), "Amharic");
  EXPECT_STREQ(ac3_language_name(69), "Zulu");
  EXPECT_EQ(ac3_language_name(44), nullptr);
  EXPECT_EQ(ac3_language_name(0), nullptr);
  EXPECT_EQ(ac3_language_name(200), nullptr);
  EXPECT_EQ(ac3_language_name(-1), nullptr);
  EXPECT_EQ(ac3_bit_rate_index(448000), 15);
  EXPECT_EQ(ac3_bit_rate_index(32000), 0);
  EXPECT_EQ(ac3_bit_rate_index(200000), 11);
}

// A frame whose optional bsi fields are all present (with) or all absent.
std::vector<uint8_t> optional_fields_frame(int bsid, int acmod, bool with) {
  std::vector<uint8_t> v(64, 0);
  BitWriter w(v.data(), v.size());
  w.put_bits(0x0B77, 16);
  w.put_bits(0, 16);
  w.put_bits(0, 2);   // 48 kHz
  w.put_bits(10, 6);  // 96 kbit/s
  w.put_bits(bsid, 5);
  w.put_bits(0, 3);
  w.put_bits(acmod, 3);
  if (acmod == 2) w.put_bits(0, 2);
  w.put_bits(0, 1);  // lfeon
  const int channels = acmod == 0 ? 2 : 1;
  for (int c = 0; c < channels; ++c) {
    w.put_bits(c ? 17 : 27, 5);  // dialnorm
    w.put_bits(with, 1);
    if (with) w.put_bits(c ? 0x66 : 0x55, 8);
    w.put_bits(with, 1);
    if (with) w.put_bits(c ? 15 : 9, 8);
    w.put_bits(0, 1);  // audprodie
  }
  w.put_bits(0, 2);  // copyrightb, origbs
  if (bsid == 6) {
    w.put_bits(0, 2);  // xbsi1e, xbsi2e
  } else {
    for (int t = 0; t < 2; ++t) {
      w.put_bits(with, 1);
      if (with) w.put_bits(t ? 456 : 123, 14);
    }
  }
  w.put_bits(with, 1);
  if (with) {
    w.put_bits(2, 6);  // three bytes of additional bsi
    w.put_bits(0, 24);
  }
  w.flush();
  return v;
}

TEST(AC3Bsi, OptionalFieldsNotResetBetweenFrames) {
  const auto full = optional_fields_frame(8, 0, true);
  struct Case {
    int bsid, acmod;
  };
  // A frame without the fields, a stereo frame (no 1+1 fields) and an
  // alternate-syntax frame (no time codes) must show none of the earlier ones.
  const Case cases[] = {{8, 0}, {8, 2}, {6, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "bsid " << c.bsid << " acmod " << c.acmod);
    AC3FrmHdr h;
    ASSERT_EQ(h.decode(full.data(), int(full.size()), 0), 0);
    ASSERT_EQ(h.valid, 1);
    EXPECT_EQ(h.bsi.compr, 0x55);
    EXPECT_EQ(h.bsi.dialnorm2, 17);
    EXPECT_EQ(h.bsi.compr2e, 1);
    EXPECT_EQ(h.bsi.compr2, 0x66);
    EXPECT_EQ(h.bsi.langcod2e, 1);
    EXPECT_EQ(h.bsi.langcod2, 15);
    EXPECT_EQ(h.bsi.timecod1e, 1);
    EXPECT_EQ(h.bsi.timecod1, 123);
    EXPECT_EQ(h.bsi.timecod2e, 1);
    EXPECT_EQ(h.bsi.timecod2, 456);
    EXPECT_EQ(h.bsi.addbsil, 2);

    const auto bare = optional_fields_frame(c.bsid, c.acmod, false);
    ASSERT_EQ(h.decode(bare.data(), int(bare.size()), 0), 0);
    ASSERT_EQ(h.valid, 1);
    EXPECT_EQ(h.bsi.compre, 0);
    EXPECT_EQ(h.bsi.compr, 0);
    EXPECT_EQ(h.bsi.dialnorm2, c.acmod == 0 ? 17 : 0) << "read again for 1+1";
    EXPECT_EQ(h.bsi.compr2e, 0);
    EXPECT_EQ(h.bsi.compr2, 0);
    EXPECT_EQ(h.bsi.langcod2e, 0);
    EXPECT_EQ(h.bsi.langcod2, 0);
    EXPECT_EQ(h.bsi.timecod1e, 0);
    EXPECT_EQ(h.bsi.timecod1, 0);
    EXPECT_EQ(h.bsi.timecod2e, 0);
    EXPECT_EQ(h.bsi.timecod2, 0);
    EXPECT_EQ(h.bsi.addbsie, 0);
    EXPECT_EQ(h.bsi.addbsil, 0);
  }
}

TEST(AC3Descriptor, DescriptorTagNotChecked) {
  // The same bytes under DVB's AC-3 tag (0x6A, a different layout) and under
  // a language descriptor's tag: refused, with and without the registration
  // descriptor in front.
  const std::vector<uint8_t> atsc = {0x81, 0x0A, 0x48, 0x2C, 0x0F, 0x09, 0x3F, 0x08, 'a', 'b', 'c', 'd'};
  for (const uint8_t tag : {uint8_t(0x6A), uint8_t(0x0A), uint8_t(0x05)}) {
    for (const bool registration : {false, true}) {
      SCOPED_TRACE(testing::Message() << "tag " << int(tag) << " registration " << registration);
      std::vector<uint8_t> v;
      if (registration) v = {0x05, 0x04, 'A', 'C', '-', '3'};
      v.insert(v.end(), atsc.begin(), atsc.end());
      v[registration ? 6 : 0] = tag;
      AC3Descriptor d;
      ASSERT_EQ(d.decode(atsc.data(), int(atsc.size())), 12);
      tsupport::TraceCapture trace;
      EXPECT_EQ(d.decode(v.data(), int(v.size())), 0);
      EXPECT_EQ(d.valid, 0);
      EXPECT_TRUE(trace.contains("is not 0x81"));
    }
  }
  // A DVB descriptor as ffmpeg writes it (flags byte, then optional fields).
  const std::vector<uint8_t> dvb = {0x6A, 0x06, 0x80, 0x42, 0x00, 0x00, 0x00, 0x00};
  AC3Descriptor d;
  EXPECT_EQ(d.decode(dvb.data(), int(dvb.size())), 0);
  EXPECT_EQ(d.valid, 0);
}

TEST(AC3Descriptor, DecodeAndEncode) {
  // tag 81, length 10: src 2 / bsid 8 | brc 11 / surround 0 | bsmod 0,
  // num_channels 7, full_svc 1 | langcod 9 | mainid byte | textlen 4 | "abcd"
  const std::vector<uint8_t> d = {0x81, 0x0A, 0x48, 0x2C, 0x0F, 0x09, 0x3F, 0x08, 'a', 'b', 'c', 'd'};
  AC3Descriptor a;
  ASSERT_EQ(a.decode(d.data(), int(d.size())), 12);
  EXPECT_EQ(a.valid, 1);
  EXPECT_EQ(a.sample_rate_code, 2);
  EXPECT_EQ(a.bsid, 8);
  EXPECT_EQ(a.bit_rate_code, 11);
  EXPECT_EQ(a.num_channels, 7);
  EXPECT_EQ(a.full_svc, 1);
  EXPECT_EQ(a.langcod, 9);
  EXPECT_EQ(a.mainid, 1);
  EXPECT_EQ(a.mainid_rest, 0x1F);
  EXPECT_EQ(a.textlen, 4);
  EXPECT_EQ(std::string(a.text.begin(), a.text.end()), "abcd");

  std::vector<uint8_t> reg = {0x05, 0x04, 'A', 'C', '-', '3'};
  reg.insert(reg.end(), d.begin(), d.end());
  EXPECT_EQ(a.decode(reg.data(), int(reg.size())), 18);

  struct Bad {
    int at;
    uint8_t value;
    const char* message;
  };
  const Bad bads[] = {
      {2, 0x68, "invalid sample_rate_code"},
      {3, 0x13 << 2, "invalid bit_rate_code = 0x13"},
      {3, 0x2F, "invalid surround_mode"},
      {4, 0x1C, "invalid num_channels"},
      {7, 0x0A, "textlen=5"},
      {1, 0x0B, "bytes=12 < 13"},
  };
  for (const Bad& b : bads) {
    auto v = d;
    v[size_t(b.at)] = b.value;
    tsupport::TraceCapture trace;
    EXPECT_EQ(a.decode(v.data(), int(v.size())), 0) << b.message;
    EXPECT_EQ(a.valid, 0);
    EXPECT_TRUE(trace.contains(b.message)) << b.message;
  }
  auto upper = d;
  upper[3] = 0x25 << 2;  // upper-limit flag with code 5
  EXPECT_EQ(a.decode(upper.data(), int(upper.size())), 12);
  EXPECT_EQ(a.decode(d.data(), 7), 0);
  EXPECT_EQ(a.decode(nullptr, 20), 0);

  // Encode: a 200 kbit/s header (not in the table) and a 1+1 header.
  AC3FrmHdr h;
  const auto v = header(0, 20);
  h.decode(v.data(), int(v.size()), 0);
  h.bit_rate = 200000;
  uint8_t out[16] = {};
  ASSERT_EQ(a.encode(out, h, sizeof out), 8);
  EXPECT_EQ(out[0], 0x81);
  EXPECT_EQ(out[1], 6);
  EXPECT_EQ(out[3] >> 2, 11);
  EXPECT_EQ(out[6], 0x1F);
  const auto dual = header(1, 20, 8, 0);
  h.decode(dual.data(), int(dual.size()), 0);
  ASSERT_EQ(a.encode(out, h, sizeof out), 9);
  EXPECT_EQ(out[1], 7);
  EXPECT_EQ(out[6], 15) << "langcod2";
  AC3Descriptor back;
  ASSERT_EQ(back.decode(out, 9), 9);
  EXPECT_EQ(back.sample_rate_code, 1);
  EXPECT_EQ(back.num_channels, 0);
  EXPECT_EQ(back.langcod2, 15);
  EXPECT_EQ(a.encode(out, h, 8), 0) << "no room";
  h.valid = 0;
  EXPECT_EQ(a.encode(out, h, sizeof out), 0);
}

// ---- against ffprobe

class AC3Fixture : public testing::TestWithParam<const char*> {};

TEST_P(AC3Fixture, FrameWalkMatchesFfprobe) {
  const std::string path = tsupport::fixture(GetParam());
  std::string out;
  tsupport::run("ffprobe -v error -show_entries packet=pos,size -of csv=p=0 " + tsupport::sh_quote(path), &out);
  const auto packets = tsupport::split_lines(out);
  ASSERT_FALSE(packets.empty());
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("ac3 " + tsupport::sh_quote(path), &lines), 0);
  ASSERT_EQ(lines.size(), packets.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string expect = std::to_string(tsupport::field_int(lines[i], "size")) + "," +
                               std::to_string(tsupport::field_int(lines[i], "offset"));
    ASSERT_EQ(expect, packets[i]) << lines[i];
  }
  tsupport::run(
      "ffprobe -v error -show_entries stream=sample_rate,channels,bit_rate -of csv=p=0 " + tsupport::sh_quote(path),
      &out);
  // csv order: sample_rate,channels,bit_rate
  const std::string first = lines[0];
  const std::string expect = std::to_string(tsupport::field_int(first, "rate")) + "," +
                             std::to_string(tsupport::field_int(first, "channels")) + "," +
                             std::to_string(tsupport::field_int(first, "bit_rate"));
  EXPECT_EQ(expect, tsupport::split_lines(out).at(0));
}

// Fault: the Annex D mix levels were read as ltrtcmixlev, lorocmixlev,
// ltrtsurmixlev; the stream has ltrtcmixlev, ltrtsurmixlev, lorocmixlev.
// The encoder writes the levels it is given (four different codes here),
// ffprobe the stream's format.
TEST(AC3Bsi, AnnexDMixLevelsInStreamOrder) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const std::string path = tsupport::temp_dir() + "/annex_d.ac3";
  ASSERT_EQ(tsupport::run("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.1 "
                          "-filter_complex \"[0]pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0\" -c:a ac3 -b:a 384k "
                          "-dmix_mode ltrt -ltrt_cmixlev 0.595 -ltrt_surmixlev 0.5 -loro_cmixlev 0.841 "
                          "-loro_surmixlev 0 -f ac3 " +
                          tsupport::sh_quote(path)),
            0);
  const std::vector<uint8_t> d = tsupport::read_file(path);
  AC3FrmHdr h;
  ASSERT_EQ(h.decode(d.data(), int(d.size()), 0), 0);
  ASSERT_EQ(h.valid, 1);
  EXPECT_EQ(h.bsi.bsid, 6);
  EXPECT_EQ(h.bsi.acmod, 7);
  EXPECT_EQ(h.bsi.xbsi1e, 1);
  EXPECT_EQ(h.bsi.dmixmod, 1);        // Lt/Rt preferred
  EXPECT_EQ(h.bsi.ltrtcmixlev, 5);    // 0.595
  EXPECT_EQ(h.bsi.ltrtsurmixlev, 6);  // 0.5
  EXPECT_EQ(h.bsi.lorocmixlev, 3);    // 0.841
  EXPECT_EQ(h.bsi.lorosurmixlev, 7);  // 0
  std::string out;
  tsupport::run("ffprobe -v error -show_entries stream=sample_rate,channels,bit_rate -of csv=p=0 " +
                    tsupport::sh_quote(path),
                &out);
  EXPECT_EQ(std::to_string(h.sample_rate) + "," + std::to_string(h.get_channels()) + "," +
                std::to_string(h.bit_rate),
            tsupport::split_lines(out).at(0));
}

INSTANTIATE_TEST_SUITE_P(Streams, AC3Fixture,
                         testing::Values("ac3_48000_2ch.ac3", "ac3_48000_6ch.ac3", "ac3_44100_2ch.ac3",
                                         "ac3_44100_6ch.ac3", "ac3_32000_2ch.ac3", "ac3_32000_6ch.ac3"));

TEST(AC3Command, DamagedFilesEndCleanly) {
  const std::string src = tsupport::fixture("ac3_44100_2ch.ac3");
  const auto bytes = tsupport::read_file(src);
  std::vector<std::string> whole, lines;
  ASSERT_EQ(tsupport::dev("ac3 " + src, &whole), 0);
  ASSERT_GT(whole.size(), 20u);
  const std::string dir = tsupport::temp_dir();

  const long long cut_at = tsupport::field_int(whole[7], "offset") + 300;
  tsupport::write_file(dir + "/cut.ac3", std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut_at));
  EXPECT_EQ(tsupport::dev("ac3 " + dir + "/cut.ac3", &lines), 0);
  EXPECT_EQ(lines.size(), 7u);

  // One damaged frame is left out; junk between frames is skipped.
  auto v = bytes;
  v[size_t(tsupport::field_int(whole[3], "offset") + 200)] ^= 0x10;
  const long long at = tsupport::field_int(whole[12], "offset");
  std::vector<uint8_t> junk(555);
  std::mt19937 rng(9);
  for (auto& b : junk) b = uint8_t(rng());
  v.insert(v.begin() + at, junk.begin(), junk.end());
  tsupport::write_file(dir + "/damaged.ac3", v);
  EXPECT_EQ(tsupport::dev("ac3 " + dir + "/damaged.ac3", &lines), 0);
  ASSERT_EQ(lines.size(), whole.size() - 1);
  EXPECT_EQ(tsupport::field_int(lines[11], "offset"), at + 555);

  std::vector<uint8_t> noise(30000);
  for (auto& b : noise) b = uint8_t(rng());
  tsupport::write_file(dir + "/noise.bin", noise);
  EXPECT_EQ(tsupport::dev("ac3 " + dir + "/noise.bin 2>/dev/null", &lines), 1);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(tsupport::dev("ac3 " + dir + "/missing.ac3 2>/dev/null", &lines), 1);
}

}  // namespace
