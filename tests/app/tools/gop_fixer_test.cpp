// The GOP Fixer's rules: its options file, and scans and fixes of joined
// recordings (in place and into a copy) judged by ffprobe's GOP time codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cctype>
#include <set>
#include <thread>

#include "app/tools/gop_fixer.h"
#include "platform/fakes.h"
#include "support.h"

namespace {

using namespace tsupport;

TEST(GopFixerRules, OptionsRoundTrip) {
  GopFixOptions o;
  o.x = 30;
  o.y = 40;
  o.load_name = "/v/in put.m2v";
  o.load_path = "/v/";
  o.save_name = "/w/out.m2v";
  o.save_path = "/w/";
  o.mode = 3;
  const std::string text = gop_options_text(o);
  EXPECT_EQ(text.rfind("#\n# Fix GOP Time Code Options:\n#\nInitial Window 30 40 \n", 0), 0u) << text;
  const GopFixOptions back = gop_options_parse("// note\n" + text);
  EXPECT_EQ(back.x, 30);
  EXPECT_EQ(back.load_name, o.load_name);
  EXPECT_EQ(back.save_path, o.save_path);
  EXPECT_EQ(back.mode, 3);
  const GopFixOptions none = gop_options_parse("");
  EXPECT_EQ(none.mode, 0);
  EXPECT_EQ(none.x, 10);
}

// The GOP time codes ffprobe reads, in order.
std::vector<std::string> gop_time_codes(const std::string& path) {
  std::string out;
  run("ffprobe -v error -select_streams v:0 -show_frames -show_entries frame_side_data=timecode -of csv=p=0 " +
          sh_quote(path) + " 2>/dev/null",
      &out);
  std::vector<std::string> codes;
  // The side-data lines: "HH:MM:SS:FF" (or ";FF") alone.
  auto is_code = [](const std::string& l, size_t i) {
    if (i + 11 > l.size()) return false;
    for (size_t k = 0; k < 11; ++k) {
      const char c = l[i + k];
      if (k % 3 == 2 ? !(c == ':' || (k == 8 && c == ';')) : !std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
  };
  for (const std::string& l : split_lines(out))
    if (is_code(l, 0)) codes.push_back(l.substr(0, 11));
  return codes;
}

// The most pictures from one I picture to the next, and the picture count.
int widest_i_gap(const std::string& path, int* frames) {
  std::string types;
  run("ffprobe -v error -select_streams v:0 -show_entries frame=pict_type -of csv=p=0 " + sh_quote(path), &types);
  int n = 0, since = -1, widest = 0;
  for (const std::string& t : split_lines(types)) {
    if (t.empty()) continue;
    if (t[0] == 'I') {
      if (since >= 0) widest = std::max(widest, n - since);
      since = n;
    }
    ++n;
  }
  *frames = n;
  return widest;
}

// A 3-second DVD title of 30-picture GOPs.
bool make_long_gop_title(const std::string& path) {
  return run("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=720x576:rate=25:duration=3 -f lavfi -i "
             "sine=f=440:r=48000:d=3 -threads 1 -target pal-dvd -g 30 -bf 2 -c:a mp2 -b:a 192k -y " +
             sh_quote(path)) == 0;
}

void run_job(GopFixerTool& g) {
  while (g.busy()) {
    g.poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

TEST(GopFixerTool, FixesTimeCodesInPlaceAndIntoACopy) {
  TSUPPORT_NEED_FIXTURES("fix_ab.m2v");
  if (!have_program("ffprobe")) GTEST_SKIP() << "ffprobe missing";
  for (const bool copy : {false, true}) {
    SCOPED_TRACE(copy ? "copy" : "in place");
    FakePlatform fake;
    GopFixerTool g;
    const std::string in = test_dir() + (copy ? "/c.m2v" : "/p.m2v");
    std::filesystem::copy_file(fixture("fix_ab.m2v"), in);
    const std::vector<uint8_t> before = read_file(in);
    ASSERT_TRUE(g.open_input(in));
    EXPECT_EQ(g.title(), " MPEG Video GOP Fixer ");
    EXPECT_EQ(g.button_text(), "Scan");
    const std::string out = test_dir() + "/fixed.m2v";
    if (copy) {
      EXPECT_FALSE(g.set_output(in));  // never the input
      ASSERT_TRUE(g.set_output(out));
    }
    ASSERT_TRUE(g.run());
    EXPECT_FALSE(g.mode_enabled(1));  // options locked during the job
    run_job(g);
    EXPECT_GT(g.errors(1), 0) << g.status();
    EXPECT_EQ(g.status().rfind("Errors Found: (1) = ", 0), 0u) << g.status();
    EXPECT_EQ(g.mode(), 1);
    EXPECT_EQ(g.button_text(), "Fix");
    ASSERT_TRUE(g.run());
    run_job(g);
    EXPECT_EQ(g.status().rfind("Errors Fixed: (1) = ", 0), 0u) << g.status();
    const std::string fixed = copy ? out : in;
    const std::vector<std::string> codes = gop_time_codes(fixed);
    ASSERT_GT(codes.size(), 4u);
    // Running on from the first: no code comes back to the start.
    for (size_t i = 1; i < codes.size(); ++i) EXPECT_NE(codes[i], codes[0]) << i;
    if (copy) EXPECT_TRUE(read_file(in) == before);
    EXPECT_EQ(ToolJob::live_count(), 0);
  }
}

TEST(GopFixerTool, BadInputAndCloseDuringAScan) {
  TSUPPORT_NEED_FIXTURES("fix_ab.m2v");
  FakePlatform fake;
  GopFixerTool g;
  EXPECT_FALSE(g.open_input(test_dir() + "/missing.m2v"));
  EXPECT_EQ(fake.prompter.last_text(), "<" + test_dir() + "/missing.m2v>: cannot open to read");
  ASSERT_TRUE(g.open_input(fixture("fix_ab.m2v")));
  ASSERT_TRUE(g.run());
  g.job().control().pause();
  fake.prompter.answers = {PromptAnswer::Ok};
  EXPECT_TRUE(g.close());  // stops and joins first
  EXPECT_FALSE(g.busy());
  EXPECT_EQ(ToolJob::live_count(), 0);
  EXPECT_TRUE(std::filesystem::exists(gop_options_path()));
}

// "All above" aborted during its scan writes nothing: the chain ends there.
TEST(GopFixerTool, AbortedScanEndsTheChain) {
  TSUPPORT_NEED_FIXTURES("fix_ab.m2v");
  FakePlatform fake;
  GopFixerTool g;
  const std::string in = test_dir() + "/chain.m2v";
  std::filesystem::copy_file(fixture("fix_ab.m2v"), in);
  const std::vector<uint8_t> before = read_file(in);
  ASSERT_TRUE(g.open_input(in));
  g.set_mode(3);
  ASSERT_EQ(g.button_text(), "Go");
  ASSERT_TRUE(g.run());
  g.job().control().pause();
  g.abort();
  run_job(g);
  EXPECT_FALSE(g.busy());
  EXPECT_NE(g.status().find("(Aborted)"), std::string::npos) << g.status();
  EXPECT_TRUE(read_file(in) == before);
}

// Resize: a DVD title of 30-picture GOPs saved again in restructure mode
// through the save: no two I pictures more than 15 apart, every frame
// kept, the input untouched, and dvdauthor takes the result.
TEST(GopFixerTool, ResizeSplitsLongGopsForDvd) {
  if (!have_program("ffmpeg") || !have_program("ffprobe") || !have_program("dvdauthor"))
    GTEST_SKIP() << "ffmpeg, ffprobe or dvdauthor missing";
  FakePlatform fake;
  const std::string dir = test_dir();
  const std::string in = dir + "/long.vob", out = dir + "/resized.vob";
  ASSERT_TRUE(make_long_gop_title(in));
  const std::vector<uint8_t> before = read_file(in);
  GopFixerTool g;
  ASSERT_TRUE(g.open_input(in));
  ASSERT_TRUE(g.run());
  run_job(g);
  EXPECT_GT(g.errors(3), 0) << g.status();
  EXPECT_FALSE(g.resize_done());
  // The scan moves to Resize, which waits for an output.
  EXPECT_TRUE(g.mode_enabled(2));
  EXPECT_EQ(g.mode(), 2);
  EXPECT_FALSE(g.button_enabled());
  ASSERT_TRUE(g.set_output(out));
  EXPECT_EQ(g.button_text(), "Resize");
  ASSERT_TRUE(g.run());
  EXPECT_FALSE(g.mode_enabled(0));  // options locked during the job
  EXPECT_EQ(g.progress_status().rfind("Fixing Errors (3) resize GOP:  ", 0), 0u) << g.progress_status();
  run_job(g);
  EXPECT_EQ(g.status(), "Fixing Errors: (3) resize GOP has completed");
  EXPECT_EQ(g.progress_status(), g.status());
  EXPECT_TRUE(g.resize_done());
  EXPECT_EQ(read_file(in), before);

  int frames = 0;
  const int widest = widest_i_gap(out, &frames);
  EXPECT_EQ(frames, 75);
  EXPECT_GT(widest, 0);
  EXPECT_LE(widest, 15);
  std::string err;
  run("ffmpeg -nostdin -v error -i " + sh_quote(out) + " -map 0 -f null - 2>&1", &err);
  EXPECT_EQ(err, "");
  std::string log;
  run("VIDEO_FORMAT=PAL dvdauthor -o " + sh_quote(dir + "/dvd") + " -t " + sh_quote(out) + " 2>&1", &log);
  EXPECT_EQ(log.find("ERR:"), std::string::npos) << log;
  EXPECT_NE(log.find("VOBUs"), std::string::npos) << log;
}

// "All above" with an output on a joined DVD recording of long GOPs whose
// time codes restart: scan, fix into the copy and resize of that copy run
// one after the other; the copy's time codes run on and its I pictures are
// at most 15 apart, the input stays as it was.
TEST(GopFixerTool, AllAboveFixesThenResizesTheCopy) {
  if (!have_program("ffmpeg") || !have_program("ffprobe")) GTEST_SKIP() << "ffmpeg or ffprobe missing";
  FakePlatform fake;
  const std::string dir = test_dir();
  const std::string piece = dir + "/piece.m2v", joined = dir + "/joined.m2v";
  const std::string in = dir + "/joined.vob", out = dir + "/all.vob";
  ASSERT_EQ(run("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=720x576:rate=25:duration=2 -threads 1 "
                "-target pal-dvd -g 30 -bf 2 -an -f mpeg2video -y " + sh_quote(piece)),
            0);
  ASSERT_EQ(run("cat " + sh_quote(piece) + " " + sh_quote(piece) + " > " + sh_quote(joined)), 0);
  ASSERT_EQ(run("ffmpeg -nostdin -v error -fflags +genpts -r 25 -i " + sh_quote(joined) +
                " -f lavfi -i sine=f=440:r=48000:d=4 -map 0:v -map 1:a -c:v copy -c:a mp2 -shortest -f dvd -y " +
                sh_quote(in)),
            0);
  const std::vector<uint8_t> before = read_file(in);
  GopFixerTool g;
  ASSERT_TRUE(g.open_input(in));
  ASSERT_TRUE(g.set_output(out));
  g.set_mode(3);
  ASSERT_EQ(g.mode(), 3);
  EXPECT_EQ(g.button_text(), "Go");
  ASSERT_TRUE(g.run());
  run_job(g);
  EXPECT_GT(g.errors(1), 0);
  EXPECT_GT(g.errors(3), 0);
  EXPECT_EQ(g.status(), "Fixing Errors: (3) resize GOP has completed");
  EXPECT_TRUE(g.everything_done());
  EXPECT_EQ(g.button_text(), "Done");
  EXPECT_EQ(read_file(in), before);
  EXPECT_FALSE(std::filesystem::exists(out + ".resize"));

  const std::vector<std::string> codes = gop_time_codes(out);
  ASSERT_GE(codes.size(), 2u);
  EXPECT_EQ(codes.front(), "00:00:00:00");
  EXPECT_EQ(std::set<std::string>(codes.begin(), codes.end()).size(), codes.size()) << "time codes run on";
  int frames = 0;
  const int widest = widest_i_gap(out, &frames);
  EXPECT_EQ(frames, 100);
  EXPECT_LE(widest, 15);
}

// Abort during a resize asks about the partial file while the save waits:
// Cancel goes on, Yes stops it and leaves no output.
TEST(GopFixerTool, AbortOfAResizeAsksAboutThePartialFile) {
  if (!have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  FakePlatform fake;
  const std::string in = test_dir() + "/long.vob", out = test_dir() + "/resized.vob";
  ASSERT_TRUE(make_long_gop_title(in));
  GopFixerTool g;
  ASSERT_TRUE(g.open_input(in));
  ASSERT_TRUE(g.run());
  run_job(g);
  ASSERT_TRUE(g.set_output(out));
  ASSERT_EQ(g.mode(), 2);
  ASSERT_TRUE(g.run());
  g.pause();  // holds the save where it is
  fake.prompter.answers = {PromptAnswer::Cancel};
  g.abort();
  ASSERT_EQ(fake.prompter.shown.size(), 1u);
  EXPECT_EQ(fake.prompter.shown[0].text, "Delete the partially saved MPEG file ?");
  EXPECT_EQ(fake.prompter.shown[0].caption, "GOP Restructure Progress");
  EXPECT_EQ(fake.prompter.shown[0].buttons, PromptButtons::YesNoCancel);
  EXPECT_TRUE(g.busy());
  EXPECT_TRUE(g.paused());
  fake.prompter.answers = {PromptAnswer::Yes};
  g.abort();
  run_job(g);
  EXPECT_EQ(g.status(), "Fixing Errors: (3) resize GOP has aborted");
  EXPECT_FALSE(g.resize_done());
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
