// The audio window as a user meets it: a track given on the command line
// plays into the sound file, Play answers the keyboard, and the play list
// is kept for the next start.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e.h"
#include "support.h"

namespace {

using namespace tsupport;

std::string read_text(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<int16_t> samples(const std::string& path, size_t skip) {
  const std::vector<uint8_t> b = read_file(path);
  std::vector<int16_t> v;
  for (size_t i = skip; i + 1 < b.size(); i += 2) v.push_back(int16_t(b[i] | b[i + 1] << 8));
  return v;
}

// Best normalised correlation of the first n samples of got against ref,
// over lags of up to 2048 stereo frames.
double correlation(const std::vector<int16_t>& ref, const std::vector<int16_t>& got, size_t n) {
  double best = -1;
  for (size_t lag = 0; lag <= 4096; lag += 2) {
    double c = 0, a = 0, g = 0;
    for (size_t i = 0; i < n && i + lag < got.size() && i < ref.size(); i += 3) {
      c += double(ref[i]) * got[i + lag];
      a += double(ref[i]) * ref[i];
      g += double(got[i + lag]) * got[i + lag];
    }
    if (a > 0 && g > 0) best = std::max(best, c / std::sqrt(a * g));
  }
  return best;
}

TEST(AudioWindow, PlaysTheGivenTrackAndKeepsItsList) {
  TSUPPORT_NEED_E2E_TOOLS();
  TSUPPORT_NEED_APP();
  TSUPPORT_NEED_FIXTURES("aw_44100.mp2");
  XServer x;
  ASSERT_TRUE(x.ok()) << x.error();
  const std::string sound = test_dir() + "/heard.wav";
  std::string config;
  {
    App app(x, {fixture("aw_44100.mp2")}, {.env = {"TAMSEL_SOUND_FILE=" + sound}});
    ASSERT_TRUE(app.running()) << app.log();
    config = app.config_dir();
    const std::string win = x.wait_window("MPEG Audio Player");
    ASSERT_FALSE(win.empty()) << app.log();
    // Playing from the start: the file grows.
    for (int i = 0; i < 100 && read_file(sound).size() < 400000; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const size_t grown = read_file(sound).size();
    EXPECT_GE(grown, 400000u);
    // Play/Stop has the keyboard focus: Space stops, the file stands.
    ASSERT_TRUE(x.focus(win));
    ASSERT_TRUE(x.key("space"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const size_t stopped = read_file(sound).size();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(read_file(sound).size(), stopped);
    ASSERT_TRUE(x.key("space"));
    for (int i = 0; i < 50 && read_file(sound).size() <= stopped; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_GT(read_file(sound).size(), stopped);
    x.screenshot("audio_window");
    EXPECT_EQ(app.stop(), 0) << app.log();
  }
  const std::string ref_path = test_dir() + "/ref.raw";
  ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -i " + sh_quote(fixture("aw_44100.mp2")) + " -f s16le " +
                sh_quote(ref_path)),
            0);
  const std::vector<int16_t> ref = samples(ref_path, 0);
  const std::vector<int16_t> got = samples(sound, 44);
  EXPECT_GE(correlation(ref, got, 44100 * 2 * 3), 0.99);
  const std::string cfg = read_text(config + "/Sorvane.cfg");
  EXPECT_NE(cfg.find("SorvaneTrackPath: " + fixture("aw_44100.mp2")), std::string::npos) << cfg;
}

}  // namespace
