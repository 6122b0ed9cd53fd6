// A picture header with a broken field that the header reader repairs
// (coding type or f_code) must still be decoded, with the f_code of the last
// good picture of its type, instead of being dropped.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/support.h"

namespace {

int decoded_frames(const std::string& stream, const std::string& out) {
  std::vector<std::string> lines;
  EXPECT_EQ(tsupport::dev("decode " + tsupport::sh_quote(stream) + " " + tsupport::sh_quote(out), &lines), 0);
  return lines.empty() ? -1 : static_cast<int>(tsupport::field_int(lines.back(), "frames"));
}

TEST(PicDecoder, RepairedForwardFcodeStillDecodes) {
  std::vector<uint8_t> es = tsupport::read_file(tsupport::fixture("m1c.m1v"));
  ASSERT_GT(es.size(), 1000u);
  // Picture header after 00 00 01 00: temporal_reference(10) type(3)
  // vbv_delay(16) full_pel_forward_vector(1) forward_f_code(3): the f_code
  // is bits 30-31 of the first word and the top bit of byte 8.
  // Only P pictures whose f_code equals the previous P picture's are broken,
  // so the repaired pictures must decode exactly as before.
  int patched = 0, last_fcode = -1;
  for (size_t i = 0; i + 9 < es.size() && patched < 3; ++i) {
    if (es[i] || es[i + 1] || es[i + 2] != 1 || es[i + 3] != 0) continue;
    const int type = (es[i + 5] >> 3) & 7;
    if (type != 2) continue;
    const int fcode = ((es[i + 7] & 3) << 1) | (es[i + 8] >> 7);
    if (fcode == last_fcode) {
      es[i + 7] &= 0xFC;
      es[i + 8] &= 0x7F;
      ++patched;
    } else {
      last_fcode = fcode;
    }
  }
  ASSERT_EQ(patched, 3);
  const std::string dir = tsupport::temp_dir();
  ASSERT_TRUE(tsupport::write_file(dir + "/broken.m1v", es));
  const int clean = decoded_frames(tsupport::fixture("m1c.m1v"), dir + "/clean.yuv");
  const int broken = decoded_frames(dir + "/broken.m1v", dir + "/broken.yuv");
  ASSERT_GT(clean, 0);
  EXPECT_EQ(broken, clean);
  // Same f_code as the last good P picture: the pictures come out as before.
  const auto a = tsupport::read_file(dir + "/clean.yuv");
  const auto b = tsupport::read_file(dir + "/broken.yuv");
  ASSERT_EQ(a.size(), b.size());
  EXPECT_GE(tsupport::psnr(a.data(), b.data(), a.size()), 48.0);
}

}  // namespace
