#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/gop_header.h"
#include "foundation/mpeg_fields.h"
#include "support/support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// 00 00 01 B8, then time code 01:02:03:04 non-drop, closed_gop 1, broken_link 1:
//   0 00001 000010 1 000011 000100 1 1 00000
const Bytes kHeader = {0x00, 0x00, 0x01, 0xB8, 0x04, 0x28, 0x62, 0x60};
const Bytes kExtension = {0x00, 0x00, 0x01, 0xB5, 0x10, 0x20, 0x30};
const Bytes kUserData = {0x00, 0x00, 0x01, 0xB2, 'G', 'O', 'P', '!'};
const Bytes kPicture = {0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0xFF, 0xF8};

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::string text_of(const GopHdr& g) {
  char buf[SMPTE_TEXT_SIZE];
  return g.time.to_string(buf, 0);
}

struct GopEntry {
  size_t offset;
  int pictures;  // picture start codes up to the next GOP header
};

// GOP headers of an elementary stream and the pictures of each GOP.
std::vector<GopEntry> scan_gops(const Bytes& es) {
  std::vector<GopEntry> gops;
  for (size_t i = 0; i + 4 <= es.size(); ++i) {
    if (es[i] || es[i + 1] || es[i + 2] != 1) continue;
    if (es[i + 3] == 0xB8) gops.push_back({i, 0});
    else if (es[i + 3] == 0x00 && !gops.empty()) ++gops.back().pictures;
  }
  return gops;
}

}  // namespace

TEST(GopHeader, DefaultsAndEncodeOfAKnownHeader) {
  GopHdr g;
  EXPECT_EQ(g.time_code, 4096u);
  EXPECT_EQ(g.frame_rate_code, 4);
  EXPECT_EQ(g.ext_length + g.user_length, 0);
  EXPECT_TRUE(g.ext_data.empty() && g.user_data.empty());

  ASSERT_EQ(g.set_frame_rate_code(3), 1);
  EXPECT_EQ(g.set_frame(90000 + 2 * 1500 + 3 * 25 + 4, 0), 93079);
  EXPECT_EQ(text_of(g), "01:02:03:04");
  g.closed_gop = 1;
  g.broken_link = 1;
  uint8_t out[8];
  ASSERT_EQ(g.encode(out, 8), 8);
  EXPECT_EQ(Bytes(out, out + 8), kHeader);

  GopHdr back;
  back.set_frame_rate_code(3);
  EXPECT_EQ(back.decode(kHeader.data(), int(kHeader.size())), 8);
  EXPECT_EQ(back.time_code, g.time_code);
  EXPECT_EQ(back.closed_gop, 1u);
  EXPECT_EQ(back.broken_link, 1u);
  EXPECT_EQ(back.get_frame(), 93079);
  EXPECT_NEAR(back.get_seconds(), 93079 / 25.0, 1e-9);

  EXPECT_EQ(g.encode(out, 7), 0);
  EXPECT_EQ(g.encode(nullptr, 100), 0);
}

TEST(GopHeader, OffsetsAndFollowingData) {
  GopHdr g;
  // A header at offset 5 with nothing after it.
  const Bytes at5 = cat({{0xFF, 0x00, 0x00, 0x00, 0x12}, kHeader});
  EXPECT_EQ(g.decode(at5.data(), int(at5.size())), 13);

  // Followed directly by a picture: no extension or user data.
  const Bytes plain = cat({kHeader, kPicture});
  EXPECT_EQ(g.decode(plain.data(), int(plain.size())), 8);
  EXPECT_EQ(g.ext_length + g.user_length, 0);

  // Extension then user data, each up to the next start code; stuffing zeros
  // before the extension are skipped.
  const Bytes full = cat({kHeader, {0, 0}, kExtension, kUserData, kPicture});
  EXPECT_EQ(g.decode(full.data(), int(full.size())), int(full.size() - kPicture.size()));
  ASSERT_EQ(g.ext_length, int(kExtension.size()));
  EXPECT_EQ(Bytes(g.ext_data.begin(), g.ext_data.begin() + g.ext_length), kExtension);
  ASSERT_EQ(g.user_length, int(kUserData.size()));
  EXPECT_EQ(Bytes(g.user_data.begin(), g.user_data.begin() + g.user_length), kUserData);
  EXPECT_EQ(g.user_data.size(), kUserData.size() + 32);  // spare bytes, zero
  EXPECT_EQ(g.user_data.back(), 0);

  // Encoding writes the user data (not the extension) when it fits.
  uint8_t out[64];
  EXPECT_EQ(g.encode(out, int(8 + kUserData.size())), int(8 + kUserData.size()));
  EXPECT_EQ(Bytes(out, out + 8 + kUserData.size()), cat({kHeader, kUserData}));
  EXPECT_EQ(g.encode(out, int(8 + kUserData.size() - 1)), 8);

  // User data running to the end of the buffer is kept whole.
  const Bytes tail = cat({kHeader, kUserData});
  EXPECT_EQ(g.decode(tail.data(), int(tail.size())), int(tail.size()));
  EXPECT_EQ(g.user_length, int(kUserData.size()));

  // Data of an earlier header does not survive into the next decode.
  EXPECT_EQ(g.decode(at5.data(), int(at5.size())), 13);
  EXPECT_EQ(g.ext_length + g.user_length, 0);
  EXPECT_EQ(g.encode(out, 64), 8);

  // Copies own their buffers.
  ASSERT_GT(g.decode(full.data(), int(full.size())), 0);
  GopHdr copy;
  copy = g;
  g.set_user_data(nullptr, 0);
  EXPECT_EQ(copy.user_length, int(kUserData.size()));
  EXPECT_EQ(copy.user_data[4], 'G');
}

TEST(GopHeader, MalformedInputFailsAndKeepsFields) {
  GopHdr g;
  g.set_frame_rate_code(3);
  ASSERT_EQ(g.decode(kHeader.data(), int(kHeader.size())), 8);
  const GopHdr before = g;
  const Bytes cases[] = {
      {},
      {0x00, 0x00, 0x01},
      Bytes(kHeader.begin(), kHeader.end() - 1),     // truncated header
      cat({{0x47, 0x11}, Bytes(kHeader.begin(), kHeader.end() - 2)}),
      {0x00, 0x00, 0x01, 0xB3, 0x16, 0x00, 0xF0, 0x13, 0xFF, 0xFF},  // another start code
      Bytes(300, 0xA5),
  };
  for (const Bytes& c : cases) {
    EXPECT_EQ(g.decode(c.data(), int(c.size())), 0) << c.size();
    EXPECT_EQ(g.time_code, before.time_code);
    EXPECT_EQ(g.time, before.time);
  }
  EXPECT_EQ(g.decode(nullptr, 100), 0);
  EXPECT_EQ(g.decode(kHeader.data(), -1), 0);

  EXPECT_EQ(g.set_frame_rate_code(9), 0);
  EXPECT_EQ(g.set_frame_rate_code(0), 0);
  EXPECT_EQ(g.set_frame_rate(12.5), 0);
  EXPECT_EQ(g.frame_rate_code, 3);
  EXPECT_EQ(g.time, before.time);
  EXPECT_EQ(g.set_frame_rate(24000.0 / 1001), 1);
  EXPECT_EQ(g.frame_rate_code, 1);
}

TEST(GopHeader, SetFrameHonoursDropFrameAt2997Only) {
  GopHdr g;  // 29.97
  EXPECT_EQ(g.set_frame(1800, 1), 1800);
  EXPECT_EQ(text_of(g), "00:01:00;02");
  EXPECT_EQ(g.time_code >> 24, 1u);
  EXPECT_EQ(g.get_drop_frame_flag(), 1);
  g.set_frame_rate_code(3);
  EXPECT_EQ(g.set_frame(1800, 1), 1800);
  EXPECT_EQ(text_of(g), "00:01:12:00");
  EXPECT_EQ(g.time_code >> 24, 0u);
}

// Every GOP header of ffmpeg streams at several rates: decode then encode is
// byte-identical, the time codes equal ffprobe's "GOP timecode" side data, and
// the frame numbers of consecutive GOPs differ by the pictures between them.
TEST(GopHeader, FfmpegStreamsRoundTripAndMatchFfprobe) {
  for (const char* name : {"df", "df10", "cg", "film", "ntsc", "hfr"}) {
    SCOPED_TRACE(name);
    const Bytes es = tsupport::read_file(tsupport::fixture(std::string("fields_") + name + ".m2v"));
    std::ifstream tc_file(tsupport::fixture(std::string("fields_") + name + ".tc"));
    std::vector<std::string> expected;
    for (std::string line; std::getline(tc_file, line);) expected.push_back(line);
    ASSERT_GE(es.size(), 12u);
    // frame_rate_code: low nibble of byte 7 of the sequence header
    ASSERT_EQ(Bytes(es.begin(), es.begin() + 4), (Bytes{0, 0, 1, 0xB3}));
    const int code = es[7] & 0x0F;

    const std::vector<GopEntry> gops = scan_gops(es);
    ASSERT_EQ(gops.size(), expected.size());
    GopHdr g;
    ASSERT_EQ(g.set_frame_rate_code(code), 1);
    int previous_frame = -1, previous_pictures = 0;
    for (size_t i = 0; i < gops.size(); ++i) {
      const uint8_t* at = es.data() + gops[i].offset;
      const int left = int(es.size() - gops[i].offset);
      const int used = g.decode(at, left);
      ASSERT_GE(used, 8) << i;
      if (std::string(name) == "cg") {
        EXPECT_EQ(g.closed_gop, 1u) << i;
      }
      EXPECT_EQ(text_of(g), expected[i]) << "GOP " << i;

      uint8_t out[512];
      const int written = g.encode(out, sizeof out);
      ASSERT_EQ(written, 8 + g.user_length);
      EXPECT_EQ(Bytes(out, out + written), Bytes(at, at + written)) << "GOP " << i;

      const int frame = g.get_frame();
      if (previous_frame >= 0) {
        // frames in a day, for a stream that runs past midnight
        const int day = g.get_drop_frame_flag() ? 107892 * 24 : int(g.frame_rate + 0.5) * 86400;
        EXPECT_EQ((frame - previous_frame + day) % day, previous_pictures) << "GOP " << i;
      }
      previous_frame = frame;
      previous_pictures = gops[i].pictures;

      // Stamping that frame number gives the same word back.
      GopHdr stamp;
      stamp.set_frame_rate_code(code);
      stamp.set_frame(frame, g.get_drop_frame_flag());
      EXPECT_EQ(stamp.time_code, g.time_code) << "GOP " << i;
    }
  }
}
