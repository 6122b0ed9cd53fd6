// effect: one picture of a registered operation through Effect, with its
// fall-backs (negative position, no operation, at or past the end, missing
// second input) and a blend that equals its formula byte for byte.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "access/effects.h"
#include "support.h"

namespace {

using tsupport::sh_quote;

std::vector<uint8_t> noise(int w, int h, unsigned seed) {
  std::vector<uint8_t> b(static_cast<size_t>(w) * h * 3 / 2);
  std::mt19937 rng(seed);
  for (uint8_t& v : b) v = static_cast<uint8_t>(16 + rng() % 220);
  return b;
}

int blend_id() {
  for (int id = 0; id < effect_op_get_count(); ++id)
    if (std::string(effect_op_get_name(id)) == "Blend") return id;
  return -1;
}

struct Outcome {
  int rc = -1;
  std::string line;
  std::vector<uint8_t> out;
};

Outcome effect(const std::string& dir, const std::string& op, int pos, int len, bool with_b, int bw = 64, int bh = 48) {
  Outcome r;
  const std::string out = dir + "/out.yuv";
  std::string args = op + " " + std::to_string(pos) + " " + std::to_string(len) + " " + sh_quote(out) + " 64 48 " +
                     sh_quote(dir + "/a.yuv") + " 64 48";
  if (with_b) args += " " + sh_quote(dir + "/b.yuv") + " " + std::to_string(bw) + " " + std::to_string(bh);
  std::vector<std::string> lines;
  r.rc = tsupport::dev("effect " + args, &lines);
  if (!lines.empty()) r.line = lines[0];
  r.out = tsupport::read_file(out);
  return r;
}

TEST(EffectCmd, BlendEqualsItsFormulaAndFallBacksCopy) {
  const std::string dir = tsupport::temp_dir();
  const std::vector<uint8_t> a = noise(64, 48, 1), b = noise(64, 48, 2);
  ASSERT_TRUE(tsupport::write_file(dir + "/a.yuv", a));
  ASSERT_TRUE(tsupport::write_file(dir + "/b.yuv", b));
  const int id = blend_id();
  ASSERT_GT(id, 0);
  const std::string op = std::to_string(id);
  for (int pos : {0, 3, 9}) {
    const Outcome r = effect(dir, op, pos, 10, true);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.line, "result=0 kind=2");
    const int k = static_cast<int>(static_cast<double>(pos + 1) / 11 * 256);
    std::vector<uint8_t> want(a.size());
    for (size_t i = 0; i < a.size(); ++i) want[i] = static_cast<uint8_t>((a[i] * (256 - k) + b[i] * k + 128) >> 8);
    EXPECT_TRUE(r.out == want) << "position " << pos;
  }
  struct Case {
    const char* name;
    std::string op;
    int pos, len;
    bool with_b;
    const char* line;
    const std::vector<uint8_t>* out;
  } cases[] = {
      {"negative position", op, -1, 10, true, "result=1 kind=2", &a},
      {"at the end: the second input", op, 10, 10, true, "result=0 kind=2", &b},
      {"past the end", op, 12, 10, true, "result=0 kind=2", &b},
      {"no such operation, position 0", "9999", 0, 10, true, "result=0 kind=1", &a},
      {"no such operation, later", "9999", 4, 10, true, "result=1 kind=1", &a},
      {"no length", op, 2, 0, true, "result=1 kind=2", &a},
  };
  for (const Case& c : cases) {
    const Outcome r = effect(dir, c.op, c.pos, c.len, c.with_b);
    ASSERT_EQ(r.rc, 0) << c.name;
    EXPECT_EQ(r.line, c.line) << c.name;
    EXPECT_TRUE(r.out == *c.out) << c.name;
  }
  // A transition without its second input fails and leaves out alone.
  Outcome r = effect(dir, op, 2, 10, false);
  EXPECT_EQ(r.line, "result=1 kind=2");
  // A second input of another size is scaled to the output.
  ASSERT_TRUE(tsupport::write_file(dir + "/b.yuv", noise(32, 24, 3)));
  r = effect(dir, op, 5, 10, true, 32, 24);
  EXPECT_EQ(r.line, "result=0 kind=2");
  EXPECT_EQ(r.out.size(), a.size());
  EXPECT_EQ(tsupport::dev("effect " + op + " 0 10 " + sh_quote(dir + "/o.yuv") + " 64 48 " +
                              sh_quote(dir + "/missing.yuv") + " 64 48",
                          nullptr),
            1);
}

}  // namespace
