#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/trace.h"
#include "support/support.h"

namespace {

using tsupport::TraceCapture;

// One record per message: the text, then exactly one newline.
void expect_one_line(const std::string& m) {
  ASSERT_FALSE(m.empty());
  EXPECT_EQ(m.back(), '\n') << m;
  EXPECT_EQ(m.find('\n'), m.size() - 1) << m;
}

TEST(Trace, FailingHeaderDecodesGiveOneLineEach) {
  TraceCapture cap;
  const std::vector<uint8_t> junk(64, 0x47);
  SeqHdr s;
  EXPECT_EQ(s.decode(junk.data(), int(junk.size())), 0);
  // A picture header with picture_coding_type 0.
  const std::vector<uint8_t> bad_pic = {0, 0, 1, 0x00, 0x00, 0x00, 0xFF, 0xF8, 0, 0, 1, 0xB2};
  PicHdr p;
  EXPECT_EQ(p.decode(bad_pic.data(), int(bad_pic.size())), 0);
  ASSERT_EQ(cap.messages().size(), 2u);
  for (const auto& m : cap.messages()) {
    expect_one_line(m);
    EXPECT_NE(m.find(" (ERROR): "), std::string::npos) << m;
  }
  EXPECT_EQ(cap.messages()[0], "SeqHdr::decode (ERROR): no sequence header in 64 bytes\n");
  EXPECT_EQ(cap.messages()[1], "PicHdr::decode (ERROR): picture_coding_type 0\n");
}

TEST(Trace, NewlinesAreNormalisedAndLongMessagesKept) {
  TraceCapture cap;
  trace("A (ERROR): without newline");
  trace("B (ERROR): with one\n");
  trace("C (ERROR): with two\n\n");
  trace("%s", "");
  const std::string long_text(3000, 'x');
  trace("D (ERROR): %s", long_text.c_str());
  trace("ERROR (E): first\n    second\n");
  ASSERT_EQ(cap.messages().size(), 6u);
  EXPECT_EQ(cap.messages()[0], "A (ERROR): without newline\n");
  EXPECT_EQ(cap.messages()[1], "B (ERROR): with one\n");
  EXPECT_EQ(cap.messages()[2], "C (ERROR): with two\n");
  EXPECT_EQ(cap.messages()[3], "\n");
  EXPECT_EQ(cap.messages()[4], "D (ERROR): " + long_text + "\n");
  // A message of two lines stays one record.
  EXPECT_EQ(cap.messages()[5], "ERROR (E): first\n    second\n");
}

TEST(Trace, RecordsOfThreadsDoNotInterleave) {
  TraceCapture cap;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) trace("T%d (ERROR): message %d", t, i);
    });
  for (auto& th : threads) th.join();
  ASSERT_EQ(cap.messages().size(), 800u);
  for (const auto& m : cap.messages()) expect_one_line(m);
}

}  // namespace
