// Lists of files read as one stream and byte ranges of one file: the list
// rules, seeks and reads across member ends, segment clamping.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/bsfile.h"
#include "foundation/bsfile_list.h"
#include "support/support.h"

namespace {

using namespace tsupport;
using Bytes = std::vector<uint8_t>;

// Members here are plain byte files: the check accepts what does not start
// with "BAD".
bool accept_unless_bad(const char* name) {
  const Bytes b = read_file(name);
  return !(b.size() >= 3 && std::memcmp(b.data(), "BAD", 3) == 0);
}

class MbsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_dir();
    previous_ = bsfile_set_member_check(accept_unless_bad);
  }
  void TearDown() override { bsfile_set_member_check(previous_); }

  // A member of n bytes whose values follow from seed.
  std::string member(const std::string& name, size_t n, int seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t((i * 7 + size_t(seed) * 31) ^ (i >> 8));
    const std::string p = dir_ + "/" + name;
    write_file(p, b);
    return p;
  }
  std::string list(const std::string& name, const std::string& text) {
    const std::string p = dir_ + "/" + name;
    write_file(p, Bytes(text.begin(), text.end()));
    return p;
  }

  std::string dir_;
  BSMemberCheck previous_ = nullptr;
};

TEST_F(MbsTest, ListRules) {
  const std::string a = member("a.bin", 1000, 1), b = member("b.bin", 500, 2), c = member("c.bin", 300, 3),
                    d = member("d.bin", 200, 4);
  const std::string bad = dir_ + "/bad.bin";
  write_file(bad, Bytes{'B', 'A', 'D', 0});
  struct Case {
    const char* name;
    std::string text;
    size_t members;  // 0: refused
  };
  const std::vector<Case> cases = {
      {"two", "[MBSFile]\nNumFile= 2\nFile= " + a + "\nFile= " + b + "\n", 2},
      {"lines before the header", "# made by hand\n[MBSFile]\nNumFile=2\nFile=" + a + "\nFile=" + b + "\n", 2},
      {"blanks before the keys", "[MBSFile]\n  NumFile= 2\n   File= " + a + "  \n\tFile= " + b + "\n", 2},
      {"three announced, two open", "[MBSFile]\nNumFile= 3\nFile= " + a + "\nFile= " + b + "\nFile= /no/such\n", 0},
      {"three announced, one refused", "[MBSFile]\nNumFile= 3\nFile= " + a + "\nFile= " + bad + "\nFile= " + b + "\n",
       0},
      {"four named, three taken", "[MBSFile]\nNumFile= 3\nFile= " + a + "\nFile= " + b + "\nFile= " + c +
                                      "\nFile= " + d + "\n",
       3},
      {"count 0", "[MBSFile]\nNumFile= 0\nFile= " + a + "\n", 0},
      {"count 257", "[MBSFile]\nNumFile= 257\nFile= " + a + "\n", 0},
      {"no header", "NumFile= 1\nFile= " + a + "\n", 0},
      {"count not right after the header", "[MBSFile]\n\nNumFile= 1\nFile= " + a + "\n", 0},
      {"a list naming itself", "[MBSFile]\nNumFile= 2\nFile= " + a + "\nFile= " + dir_ + "/self.mbs\n", 0},
      {"relative names beside the list", "[MBSFile]\nNumFile= 2\nFile= a.bin\nFile= b.bin\n", 2},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    const std::string p = list("self.mbs", k.text);
    EXPECT_EQ(utils_is_mbs_file(p.c_str()), 1);
    const auto names = read_mbs_file(p.c_str());
    EXPECT_EQ(names.size(), k.members);
    if (!names.empty()) {
      EXPECT_EQ(names[0], a);
    }
    int err = -1;
    BSFile f(p.c_str(), 1, &err);
    EXPECT_EQ(err, k.members > 1 ? 0 : 1);
  }
  // Too long a list file is no list.
  std::string big = "[MBSFile]\nNumFile= 2\nFile= " + a + "\nFile= " + b + "\n";
  big += std::string(size_t(kMbsMaxBytes) + 1 - big.size(), '#');
  EXPECT_EQ(utils_is_mbs_file(list("big.mbs", big).c_str()), 0);
  EXPECT_TRUE(read_mbs_file((dir_ + "/big.mbs").c_str()).empty());
  big.pop_back();
  EXPECT_EQ(read_mbs_file(list("big.mbs", big).c_str()).size(), 2u);
  // Not named .mbs, or no File= line: a plain file.
  EXPECT_EQ(utils_is_mbs_file(list("list.txt", "[MBSFile]\nNumFile= 1\nFile= " + a + "\n").c_str()), 0);
  EXPECT_EQ(utils_is_mbs_file(list("empty.MBS", "[MBSFile]\n").c_str()), 0);
  EXPECT_EQ(utils_is_mbs_file(list("upper.MBS", "[MBSFile]\nNumFile= 1\nFile= " + a + "\n").c_str()), 1);
}

TEST_F(MbsTest, SeeksAndReadsAcrossMemberEnds) {
  const std::string a = member("a.bin", 1000, 1), b = member("b.bin", 500, 2);
  const std::string p = list("two.mbs", "[MBSFile]\nNumFile= 2\nFile= " + a + "\nFile= " + b + "\n");
  int err = -1;
  BSFile f(p.c_str(), 1, &err);
  ASSERT_EQ(err, 0);
  EXPECT_EQ(f.kind(), BSFile::Kind::multi);
  EXPECT_EQ(f.size().value(), 1500u);
  EXPECT_EQ(f.member_names(), (std::vector<std::string>{a, b}));
  // At a member's start the position stays at the end of the one before.
  EXPECT_EQ(f.seek(FileOffset(1000u), 0).value(), 1000u);
  EXPECT_EQ(f.tell().value(), 1000u);
  uint8_t buf[64];
  ASSERT_EQ(f.read(buf, 10), 10u);
  const Bytes bb = read_file(b);
  EXPECT_TRUE(std::equal(buf, buf + 10, bb.begin()));
  EXPECT_EQ(f.tell().value(), 1010u);
  EXPECT_EQ(f.seek(FileOffset(), 2).value(), 1500u);
  EXPECT_EQ(f.seek(FileOffset(5000u), 0).value(), 1500u);
  EXPECT_EQ(f.read(buf, 10), 0u);
  // Whence 1 is from the start, as plain files take it.
  f.seek(FileOffset(300u), 0);
  EXPECT_EQ(f.seek(FileOffset(20u), 1).value(), 20u);
  EXPECT_EQ(f.seek(FileOffset(100u), 2).value(), 1400u);
  EXPECT_EQ(f.write(buf, 4), 0u);  // read-only
}

TEST_F(MbsTest, ShortReadInsideAMemberIsNotSplicedOver) {
  const std::string a = member("a.bin", 1000, 1), b = member("b.bin", 500, 2);
  const std::string p = list("two.mbs", "[MBSFile]\nNumFile= 2\nFile= " + a + "\nFile= " + b + "\n");
  BSFile f(p.c_str(), 1);
  ASSERT_TRUE(f.is_open());
  // The first member shrinks after the open.
  ASSERT_EQ(truncate(a.c_str(), 600), 0);
  std::vector<uint8_t> buf(1500);
  EXPECT_EQ(f.read(buf.data(), buf.size()), 600u);
}

TEST_F(MbsTest, SegmentsClampAndLimitReads) {
  const std::string a = member("a.bin", 5000, 1);
  const Bytes all = read_file(a);
  const std::string p = list("seg.mbs", "[MBSFile]\nNumFile= 1\nFile= " + a + "\nSegment=       1000       3000\n");
  int err = -1;
  BSFile f(p.c_str(), 1, &err);
  ASSERT_EQ(err, 0);
  EXPECT_EQ(f.kind(), BSFile::Kind::segment);
  EXPECT_EQ(f.size().value(), 2000u);
  EXPECT_EQ(f.seek(FileOffset(), 2).value(), 2000u);
  EXPECT_EQ(f.seek(FileOffset(5000u), 0).value(), 2000u);
  EXPECT_EQ(f.seek(FileOffset(1500u), 0).value(), 1500u);
  std::vector<uint8_t> buf(4096);
  ASSERT_EQ(f.read(buf.data(), buf.size()), 500u);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 500, all.begin() + 2500));
  f.seek(FileOffset(), 0);
  ASSERT_EQ(f.read(buf.data(), 10), 10u);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 10, all.begin() + 1000));

  struct Case {
    const char* name;
    std::string text;
  };
  const std::vector<Case> refused = {
      {"beyond the file", "[MBSFile]\nNumFile= 1\nFile= " + a + "\nSegment= 4000 6000\n"},
      {"reversed", "[MBSFile]\nNumFile= 1\nFile= " + a + "\nSegment= 200 100\n"},
      {"empty range", "[MBSFile]\nNumFile= 1\nFile= " + a + "\nSegment= 100 100\n"},
      {"no segment", "[MBSFile]\nNumFile= 1\nFile= " + a + "\n"},
      {"segment before its file", "[MBSFile]\nNumFile= 1\nSegment= 100 200\nFile= " + a + "\n"},
      {"missing file", "[MBSFile]\nNumFile= 1\nFile= /no/such/file\nSegment= 100 200\n"},
  };
  for (const auto& k : refused) {
    SCOPED_TRACE(k.name);
    int e = -1;
    BSFile g(list("bad.mbs", k.text).c_str(), 1, &e);
    EXPECT_EQ(e, 1);
    EXPECT_FALSE(g.is_open());
  }
  // Only the first valid segment counts.
  std::string file;
  FileOffset s, e;
  ASSERT_EQ(read_mbs_file_segments(
                list("two.mbs", "[MBSFile]\nNumFile= 1\nFile= " + a + "\nSegment= 9 3\nSegment= 10 20\nSegment= 30 40\n")
                    .c_str(),
                &file, &s, &e),
            1);
  EXPECT_EQ(file, a);
  EXPECT_EQ(s.value(), 10u);
  EXPECT_EQ(e.value(), 20u);
}

}  // namespace
