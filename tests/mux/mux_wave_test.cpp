// WAVE files as multiplexer inputs: their samples go out as linear PCM and
// come back out of ffmpeg's decoder unchanged; rates the format cannot carry
// are refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/support.h"

namespace {

using namespace tsupport;

// Two channels that differ, so a swap of channels or bytes shows.
std::string make_wave(const std::string& name, int rate) {
  const std::string path = temp_dir() + "/" + name;
  const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i \"aevalsrc=0.6*sin(440*2*PI*t)|0.3*sin(660*2*PI*t):s=" +
                          std::to_string(rate) + ":d=4\" -c:a pcm_s16le " + sh_quote(path);
  EXPECT_EQ(run(cmd), 0);
  return path;
}

TEST(MuxWave, SamplesComeBackUnchanged) {
  const std::string wav = make_wave("mux_wave48.wav", 48000);
  const std::string raw = temp_dir() + "/mux_wave48.s16";
  ASSERT_EQ(run("ffmpeg -nostdin -v error -y -i " + sh_quote(wav) + " -f s16le " + sh_quote(raw)), 0);
  const std::vector<uint8_t> want = read_file(raw);
  ASSERT_GT(want.size(), 700000u);
  for (const char* kind : {"ps", "dvd", "ts"}) {
    SCOPED_TRACE(kind);
    const std::string out = temp_dir() + "/mux_wave_" + kind + ".mpg";
    std::vector<std::string> lines;
    ASSERT_EQ(dev(std::string("mux --kind ") + kind + " " + sh_quote(out) + " " + sh_quote(fixture("pm_m2.m2v")) + " " +
                      sh_quote(wav),
                  &lines),
              0);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(field(lines.back(), "status"), "done");
    EXPECT_EQ(field(lines.back(), "result"), "0");
    std::string err;
    run("ffprobe -v error " + sh_quote(out) + " 2>&1", &err);
    EXPECT_EQ(err, "");
    std::string info;
    run("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 " +
            sh_quote(out),
        &info);
    const bool ts = std::string(kind) == "ts";
    EXPECT_EQ(info.substr(0, info.find('\n') + 1), ts ? "pcm_bluray,48000,2\n" : "pcm_dvd,48000,2\n");
    const std::string back = temp_dir() + "/mux_wave_" + kind + ".s16";
    run("ffmpeg -nostdin -v error -y -i " + sh_quote(out) + " -map 0:a:0 -f s16le " + sh_quote(back) + " 2>&1", &err);
    EXPECT_EQ(err, "");
    EXPECT_TRUE(read_file(back) == want) << read_file(back).size() << " vs " << want.size();
  }
  // The job lists a WAVE file as linear PCM (naming kind 4).
  std::vector<std::string> lines;
  dev("muxjob " + sh_quote(temp_dir() + "/mux_wave_job.mpg") + " --format 3 " + sh_quote(fixture("pm_m2.m2v")) + " " +
          sh_quote(wav),
      &lines);
  bool listed = false;
  for (const std::string& l : lines)
    if (l.rfind("input ", 0) == 0 && l.find("mux_wave48.wav") != std::string::npos) {
      listed = true;
      EXPECT_EQ(field(l, "kind"), "4");
      EXPECT_EQ(field(l, "id"), "0xA0");
    }
  EXPECT_TRUE(listed);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(field(lines.back(), "status"), "done");
}

// Linear PCM in a program stream is 48 kHz only; an MPEG-1 system stream
// takes none. Both fail without leaving an output.
TEST(MuxWave, FormatsThatCannotCarryItAreRefused) {
  const std::string wav44 = make_wave("mux_wave44.wav", 44100);
  const std::string wav48 = make_wave("mux_wave48b.wav", 48000);
  struct Case {
    const char* kind;
    std::string wav;
  };
  for (const Case& c : {Case{"ps", wav44}, Case{"mpeg1", wav48}}) {
    SCOPED_TRACE(c.kind);
    const std::string out = temp_dir() + "/mux_wave_refused_" + c.kind + ".mpg";
    std::vector<std::string> lines;
    dev(std::string("mux --kind ") + c.kind + " " + sh_quote(out) + " " + sh_quote(fixture("pm_m2.m2v")) + " " +
            sh_quote(c.wav),
        &lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(field(lines.back(), "status"), "failed");
    EXPECT_NE(access(out.c_str(), F_OK), 0);
  }
}

}  // namespace
