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

void wait_for_size(const std::string& path, size_t size) {
  for (int i = 0; i < 100 && read_file(path).size() < size; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
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
    wait_for_size(sound, 400000);
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

  // The next start, with no file given: the window opened from the Tools
  // menu shows the list kept with its track current, and Play plays it.
  const std::string again = test_dir() + "/again.wav";
  {
    App app(x, {}, {.env = {"TAMSEL_SOUND_FILE=" + again}, .config_dir = config});
    ASSERT_TRUE(app.running()) << app.log();
    const std::string main = x.wait_window("^MPEG-Tamsel .*\\(MPEG-2\\) \\([^)]*\\)$");
    ASSERT_FALSE(main.empty()) << app.log();
    ASSERT_TRUE(x.focus(main));
    // Tools opens on its first item; up from there: Reset Options, Options,
    // Configure, then the player.
    ASSERT_TRUE(x.key("alt+t"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(x.key("Up Up Up Up Return"));
    const std::string win = x.wait_window("MPEG Audio Player");
    ASSERT_FALSE(win.empty()) << app.log();
    ASSERT_TRUE(x.focus(win));
    ASSERT_TRUE(x.key("space"));
    wait_for_size(again, 44 + 44100 * 4 * 2);
    x.screenshot("audio_window_again");
    EXPECT_EQ(app.stop(), 0) << app.log();
  }
  // Its own sound, from the place the first run left: the tones repeat
  // every 1102.5 frames, so any place matches within the lags searched.
  const std::vector<int16_t> heard = samples(again, 44);
  ASSERT_GE(heard.size(), 44100u * 2);
  EXPECT_GE(correlation(ref, heard, 44100 * 2), 0.99);
  const std::string kept = read_text(config + "/Sorvane.cfg");
  EXPECT_NE(kept.find("SorvaneTrackPath: " + fixture("aw_44100.mp2")), std::string::npos) << kept;
}

}  // namespace
