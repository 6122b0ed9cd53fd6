// The length of program streams whose pictures' time codes restart while
// their clock runs on (a title copied in a loop), and of recordings joined
// end to end whose clock restarts with each piece.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "demux/demuxer.h"
#include "demux/demuxer_cache.h"
#include "support.h"

namespace {

using tsupport::sh_quote;

double length_of(const std::string& file) {
  std::unique_ptr<DeMuxer> d(demuxer_create(file.c_str(), 0));
  return d ? d->get_total_length() : -1.0;
}

double ffprobe_duration(const std::string& file) {
  std::string out;
  if (tsupport::run("ffprobe -v error -show_entries format=duration -of csv=p=0 " + sh_quote(file), &out) != 0)
    return -1;
  return std::atof(out.c_str());
}

}  // namespace

TEST(ProgramLength, LoopedTitleRunsOnItsClock) {
  if (auto miss = tsupport::missing_fixture({"st_dvd.vob", "ps_vob.vob"}); !miss.empty()) GTEST_SKIP() << miss;
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  for (const char* name : {"st_dvd.vob", "ps_vob.vob"}) {
    const std::string out = tsupport::temp_dir() + "/loop_" + name;
    ASSERT_EQ(tsupport::run("ffmpeg -nostdin -v error -y -stream_loop 7 -i " + sh_quote(tsupport::fixture(name)) +
                            " -c copy -f dvd " + sh_quote(out)),
              0);
    const double want = ffprobe_duration(out);
    ASSERT_GT(want, 20.0);
    // Time codes start again with each copy; the time stamps do not.
    EXPECT_NEAR(length_of(out), want, 0.1) << name;
  }
}

TEST(ProgramLength, PiecesJoinedEndToEndAddUp) {
  if (auto miss = tsupport::missing_fixture({"st_dvd.vob", "ps_even1.mpg"}); !miss.empty()) GTEST_SKIP() << miss;
  for (const auto& [name, copies] : {std::pair<const char*, int>{"st_dvd.vob", 6}, {"ps_even1.mpg", 2}}) {
    const std::string piece = tsupport::fixture(name);
    const std::string out = tsupport::temp_dir() + "/cat_" + name;
    std::string cmd = "cat";
    for (int k = 0; k < copies; ++k) cmd += " " + sh_quote(piece);
    ASSERT_EQ(tsupport::run(cmd + " > " + sh_quote(out)), 0);
    const double one = length_of(piece);
    ASSERT_GT(one, 1.0);
    // Each piece's clock starts again: the length is measured, not taken
    // from the first and last stamps (nor from a header's bit rate).
    EXPECT_NEAR(length_of(out), copies * one, copies * one * 0.1) << name;
  }
}
