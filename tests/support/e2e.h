// End-to-end runs of the real program under a virtual X server.
//
// A scenario in tests/e2e, start to end:
//
//   TEST(Open, ShowsFirstFrame) {
//     TSUPPORT_NEED_E2E_TOOLS();                    // skips without Xvfb, xdotool, import
//     TSUPPORT_NEED_APP();                          // skips until tamsel is built
//     TSUPPORT_NEED_FIXTURES("ui.mpg");
//     tsupport::XServer x;                          // Xvfb 1280x1024x24, free display
//     ASSERT_TRUE(x.ok()) << x.error();
//     tsupport::App app(x, {tsupport::fixture("ui.mpg")},     // fresh settings folder
//                       {.settings = "Initial Window 0 1280 0 1024\n"});
//     ASSERT_TRUE(app.running()) << app.log();
//     std::string win = x.wait_window(" - (.*/)?ui\\.mpg$");  // bounded; "" on timeout
//     ASSERT_FALSE(win.empty()) << app.log();
//     x.focus(win);
//     x.key("ctrl+c");                              // xdotool key names
//     x.type("abc");
//     const tsupport::RgbImage ref = tsupport::decode_frame(tsupport::fixture("ui.mpg"), 0);
//     tsupport::RgbImage shot;
//     tsupport::Match m = x.wait_picture(ref, 35.0, "first", &shot);  // polls screenshots
//     EXPECT_GE(m.psnr, 35.0);
//     EXPECT_EQ(tsupport::read_frame_number(shot, m), 0);
//     EXPECT_EQ(tsupport::read_frame_number(x.screenshot("later"), m), 0);  // same place
//     EXPECT_EQ(app.stop(), 0) << app.log();        // SIGTERM, exit status
//   }
//
// Every wait is bounded; every process started here is ended when its owner
// goes out of scope, also when an assertion returns early. Screenshots are
// kept as PNG in TAMSEL_E2E_SHOTS (the build's e2e-shots folder) for a look.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace tsupport {

// 8-bit RGB picture, rows top-down without padding.
struct RgbImage {
  int w = 0, h = 0;
  std::vector<uint8_t> px;
  bool empty() const { return w <= 0 || h <= 0; }
  const uint8_t* at(int x, int y) const { return px.data() + (static_cast<size_t>(y) * w + x) * 3; }
};

// Binary PPM (P6, maxval 255) in memory; empty image on anything else.
RgbImage parse_ppm(const std::string& bytes);
bool write_ppm(const std::string& path, const RgbImage& img);
// Each 2x2 (or d x d) block averaged, the picture's size divided by d.
RgbImage shrink(const RgbImage& img, int d);
// ffmpeg's RGB decode of picture n (display order) of a movie; of count
// pictures from first (fewer at the movie's end).
RgbImage decode_frame(const std::string& movie, int n);
std::vector<RgbImage> decode_frames(const std::string& movie, int first, int count);

// Where a picture was found on a screen, the size it is shown at and how
// close it is to the reference.
struct Match {
  int x = -1, y = -1;  // top-left on the screen
  int w = 0, h = 0;    // shown size
  int divisor = 0;     // reference size / shown size (1, 2 or 4)
  int source_w = 0;    // the reference's width
  double psnr = 0;     // RGB PSNR against the reference at this size
  bool found() const { return x >= 0; }
};

// RGB PSNR of the screen area at (x, y) against pic, pic.w x pic.h.
double psnr_at(const RgbImage& screen, const RgbImage& pic, int x, int y);
// Finds the reference on the screen, shown at full, half or quarter size
// anywhere; the best-scoring size and place. At half and quarter size the
// reference is the 2x2 or 4x4 average: on the ui*.mpg fixtures a Lanczos
// scaler scores 35-45 dB against it, a bilinear one 30-38 dB.
Match find_picture(const RgbImage& screen, const RgbImage& ref, const std::vector<int>& divisors = {1, 2, 4});
// The frame number the fixture movies draw as 16 boxes (tests/fixtures/
// make.d/ui.sh), read in the found area; -1 when a box is neither white nor
// black.
int read_frame_number(const RgbImage& screen, const Match& where);

// First of the tools the harness runs that is not installed; empty when all are.
std::string missing_e2e_tool();
// Path of the program under test (TAMSEL_APP); empty when not built.
std::string app_path();

// A child process in its own process group, its output in a log file.
// Killed with its group when destroyed.
class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();
  // argv[0] is the program's path; env entries NAME=VALUE are added to ours.
  // keep_fd stays open in the child (-1: none).
  bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& log_path,
             int keep_fd = -1);
  pid_t pid() const { return pid_; }
  bool running();
  // Waits up to seconds for the exit: exit code, 128 + signal number, or -1
  // while it still runs.
  int wait(double seconds);
  // Sends sig and waits as wait(); one that does not end in time is killed
  // (-1).
  int stop(int sig, double seconds);
  // Exit status once ended (as stop); -1 while running.
  int status() const { return status_; }

 private:
  bool reap(bool block);
  pid_t pid_ = -1;
  int status_ = -1;
};

// Xvfb 1280x1024x24 on a display it picks itself; the tools run against it.
class XServer {
 public:
  XServer();
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  bool ok() const { return !display_.empty(); }
  const std::string& error() const { return error_; }
  const std::string& display() const { return display_; }  // ":N"

  // Runs a shell command with DISPLAY set, ended after seconds; exit status.
  int run(const std::string& cmd, std::string* out = nullptr, double seconds = 10) const;
  // Id of the first visible window whose title matches the regular
  // expression; empty after seconds.
  std::string wait_window(const std::string& title_regex, double seconds = 20) const;
  std::string window_title(const std::string& id) const;
  // Gives the window the keyboard (there is no window manager).
  bool focus(const std::string& id) const;
  // Keys ("ctrl+o", "Return", "Left Left") and text through XTEST, to
  // whichever window has the keyboard.
  bool key(const std::string& keys) const;
  bool type(const std::string& text) const;
  bool click(int x, int y, int button = 1) const;
  // The whole screen; also kept as NAME.png in the shots folder.
  RgbImage screenshot(const std::string& name) const;
  // Takes screenshots until the reference is found at min_psnr or better,
  // up to seconds; the best match seen and (screen) its screenshot, kept
  // as NAME.png.
  Match wait_picture(const RgbImage& ref, double min_psnr, const std::string& name, RgbImage* screen = nullptr,
                     double seconds = 20, const std::vector<int>& divisors = {1, 2, 4}) const;

 private:
  RgbImage grab() const;
  bool keep(const RgbImage& shot, const std::string& name) const;

  Process xvfb_;
  std::string display_, error_, dir_;
};

// The program under test on an X server, with a fresh settings folder
// unless a previous run's is given.
struct AppOptions {
  std::string settings = {};          // MPEG-Tamsel.cfg text; none when empty
  std::vector<std::string> env = {};  // extra NAME=VALUE (TAMSEL_SOUND_FILE=...)
  std::string exe = {};               // default: app_path()
  std::string config_dir = {};        // a previous run's, for a restart; default: fresh
};

class App {
 public:
  App(const XServer& x, const std::vector<std::string>& args, const AppOptions& options = {});
  bool running() { return proc_.running(); }
  const std::string& config_dir() const { return config_dir_; }
  // SIGTERM and the exit status (see Process::stop).
  int stop(double seconds = 20) { return proc_.stop(15, seconds); }
  // The exit status once it ends by itself (see Process::wait).
  int wait(double seconds = 20) { return proc_.wait(seconds); }
  // What the program printed (sanitizer reports included).
  std::string log() const;

 private:
  Process proc_;
  std::string config_dir_, log_path_;
};

}  // namespace tsupport

#define TSUPPORT_NEED_E2E_TOOLS()                                                      \
  do {                                                                                 \
    const std::string tsupport_tool_ = ::tsupport::missing_e2e_tool();                 \
    if (!tsupport_tool_.empty()) GTEST_SKIP() << tsupport_tool_ << " is not installed"; \
  } while (0)

#define TSUPPORT_NEED_APP() \
  if (::tsupport::app_path().empty()) GTEST_SKIP() << "tamsel is not built (TAMSEL_APP)"
