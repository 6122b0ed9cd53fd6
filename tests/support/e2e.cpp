#include "e2e.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support.h"

extern char** environ;

namespace fs = std::filesystem;

namespace tsupport {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point deadline_after(double seconds) {
  return Clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

// Grey level of an RGB pixel: 0.299 R + 0.587 G + 0.114 B in 8 bits.
int grey(const uint8_t* c) { return (77 * c[0] + 150 * c[1] + 29 * c[2] + 128) >> 8; }

// Grey levels, for the search.
struct Plane {
  int w = 0, h = 0;
  std::vector<int32_t> v;
  int32_t at(int x, int y) const { return v[static_cast<size_t>(y) * w + x]; }
};

Plane luma(const RgbImage& img) {
  Plane p{img.w, img.h, std::vector<int32_t>(static_cast<size_t>(img.w) * img.h)};
  for (size_t i = 0; i < p.v.size(); ++i) p.v[i] = grey(img.px.data() + i * 3);
  return p;
}

Plane half(const Plane& p) {
  Plane q{p.w / 2, p.h / 2, {}};
  q.v.resize(static_cast<size_t>(q.w) * q.h);
  for (int y = 0; y < q.h; ++y)
    for (int x = 0; x < q.w; ++x)
      q.v[static_cast<size_t>(y) * q.w + x] =
          (p.at(2 * x, 2 * y) + p.at(2 * x + 1, 2 * y) + p.at(2 * x, 2 * y + 1) + p.at(2 * x + 1, 2 * y + 1) + 2) >> 2;
  return q;
}

// Levels 0 (full size) .. n-1, each half the one before.
std::vector<Plane> pyramid(Plane p, int levels) {
  std::vector<Plane> out;
  out.push_back(std::move(p));
  while (static_cast<int>(out.size()) < levels && out.back().w >= 2 && out.back().h >= 2)
    out.push_back(half(out.back()));
  return out;
}

// Sum of squared differences of pic against the screen at (x, y); stops
// early once above limit.
int64_t sse(const Plane& screen, const Plane& pic, int x, int y, int64_t limit) {
  int64_t s = 0;
  for (int r = 0; r < pic.h; ++r) {
    const int32_t* a = screen.v.data() + static_cast<size_t>(y + r) * screen.w + x;
    const int32_t* b = pic.v.data() + static_cast<size_t>(r) * pic.w;
    for (int c = 0; c < pic.w; ++c) {
      const int32_t d = a[c] - b[c];
      s += d * d;
    }
    if (s > limit) return s;
  }
  return s;
}

struct Spot {
  int x, y;
  int64_t score;
};

// Best places of ref on the screen: every place at the coarsest level, the
// few best of those followed down the levels within +-2 of their doubled
// position (picture edges need not fall on the coarse grid).
Spot locate(const std::vector<Plane>& screen, const std::vector<Plane>& pic) {
  // Coarsest level where the picture still has some detail.
  int top = 0;
  while (top + 1 < static_cast<int>(pic.size()) && top + 1 < static_cast<int>(screen.size()) &&
         pic[top + 1].w >= 16 && pic[top + 1].h >= 12)
    ++top;
  const Plane& s = screen[top];
  const Plane& p = pic[top];
  std::vector<Spot> all;
  for (int y = 0; y + p.h <= s.h; ++y)
    for (int x = 0; x + p.w <= s.w; ++x)
      all.push_back({x, y, sse(s, p, x, y, std::numeric_limits<int64_t>::max())});
  std::sort(all.begin(), all.end(), [](const Spot& a, const Spot& b) { return a.score < b.score; });
  // Up to 8 candidates, apart from each other.
  std::vector<Spot> seeds;
  for (const Spot& c : all) {
    bool near = false;
    for (const Spot& k : seeds) near = near || (std::abs(k.x - c.x) <= 2 && std::abs(k.y - c.y) <= 2);
    if (!near) seeds.push_back(c);
    if (seeds.size() == 8) break;
  }
  Spot best{-1, -1, std::numeric_limits<int64_t>::max()};
  for (Spot c : seeds) {
    for (int level = top - 1; level >= 0 && c.x >= 0; --level) {
      const Plane& sl = screen[level];
      const Plane& pl = pic[level];
      Spot here{-1, -1, std::numeric_limits<int64_t>::max()};
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
          const int x = 2 * c.x + dx, y = 2 * c.y + dy;
          if (x < 0 || y < 0 || x + pl.w > sl.w || y + pl.h > sl.h) continue;
          const int64_t e = sse(sl, pl, x, y, here.score);
          if (e < here.score) here = {x, y, e};
        }
      c = here;
    }
    if (c.x >= 0 && c.score < best.score) best = c;
  }
  return best;
}

std::string shots_dir() {
  const char* env = std::getenv("TAMSEL_E2E_SHOTS");
  std::string dir = env && *env ? env : temp_dir();
  std::error_code ec;
  fs::create_directories(dir, ec);
  return dir;
}

std::string tail(const std::string& path, size_t bytes) {
  const std::vector<uint8_t> all = read_file(path);
  const size_t from = all.size() > bytes ? all.size() - bytes : 0;
  return std::string(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
}

// One binary PPM from bytes[at], at moved past it; empty image on anything
// else.
RgbImage next_ppm(const std::string& bytes, size_t& at) {
  std::istringstream in(bytes.substr(at, 64));
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  in >> magic;
  // The format allows comments in the header; ffmpeg and ImageMagick write none.
  if (magic != "P6" || !(in >> w >> h >> maxval) || maxval != 255 || w <= 0 || h <= 0) return {};
  const size_t start = at + static_cast<size_t>(in.tellg()) + 1;
  const size_t n = static_cast<size_t>(w) * h * 3;
  if (bytes.size() < start + n) return {};
  at = start + n;
  return {w, h, std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(at))};
}

// Mean grey level of the screen over the source rectangle [x0, x1) x
// [y0, y1) of the found picture; -1 outside the screen.
int mean_luma(const RgbImage& screen, const Match& where, int x0, int y0, int x1, int y1) {
  const double k = double(where.w) / where.source_w;
  const int sx0 = where.x + static_cast<int>(std::floor(x0 * k));
  const int sy0 = where.y + static_cast<int>(std::floor(y0 * k));
  const int sx1 = std::max(sx0 + 1, where.x + static_cast<int>(std::ceil(x1 * k)));
  const int sy1 = std::max(sy0 + 1, where.y + static_cast<int>(std::ceil(y1 * k)));
  if (sx0 < 0 || sy0 < 0 || sx1 > screen.w || sy1 > screen.h) return -1;
  int64_t sum = 0;
  for (int y = sy0; y < sy1; ++y)
    for (int x = sx0; x < sx1; ++x) sum += grey(screen.at(x, y));
  return static_cast<int>(sum / ((sx1 - sx0) * (sy1 - sy0)));
}

}  // namespace

RgbImage parse_ppm(const std::string& bytes) {
  size_t at = 0;
  return next_ppm(bytes, at);
}

bool write_ppm(const std::string& path, const RgbImage& img) {
  std::string head = "P6\n" + std::to_string(img.w) + " " + std::to_string(img.h) + "\n255\n";
  std::vector<uint8_t> data(head.begin(), head.end());
  data.insert(data.end(), img.px.begin(), img.px.end());
  return write_file(path, data);
}

RgbImage shrink(const RgbImage& img, int d) {
  if (d <= 1) return img;
  RgbImage out{img.w / d, img.h / d, {}};
  out.px.resize(static_cast<size_t>(out.w) * out.h * 3);
  const int n = d * d;
  for (int y = 0; y < out.h; ++y)
    for (int x = 0; x < out.w; ++x)
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int j = 0; j < d; ++j)
          for (int i = 0; i < d; ++i) sum += img.at(x * d + i, y * d + j)[c];
        out.px[(static_cast<size_t>(y) * out.w + x) * 3 + c] = static_cast<uint8_t>((sum + n / 2) / n);
      }
  return out;
}

std::vector<RgbImage> decode_frames(const std::string& movie, int first, int count) {
  std::string out;
  const std::string cmd = "ffmpeg -nostdin -v error -i " + sh_quote(movie) + " -vf 'select=between(n\\," +
                          std::to_string(first) + "\\," + std::to_string(first + count - 1) +
                          ")' -fps_mode passthrough -frames:v " + std::to_string(count) +
                          " -pix_fmt rgb24 -f image2pipe -c:v ppm -";
  std::vector<RgbImage> frames;
  if (run(cmd, &out) != 0) return frames;
  size_t at = 0;
  for (RgbImage img = next_ppm(out, at); !img.empty(); img = next_ppm(out, at)) frames.push_back(std::move(img));
  return frames;
}

RgbImage decode_frame(const std::string& movie, int n) {
  std::vector<RgbImage> frames = decode_frames(movie, n, 1);
  return frames.empty() ? RgbImage() : std::move(frames.front());
}

double psnr_at(const RgbImage& screen, const RgbImage& pic, int x, int y) {
  if (x < 0 || y < 0 || x + pic.w > screen.w || y + pic.h > screen.h || pic.empty()) return 0;
  double se = 0;
  for (int r = 0; r < pic.h; ++r) {
    const uint8_t* a = screen.at(x, y + r);
    const uint8_t* b = pic.at(0, r);
    for (int i = 0; i < pic.w * 3; ++i) {
      const double d = double(a[i]) - double(b[i]);
      se += d * d;
    }
  }
  if (se == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * 3.0 * pic.w * pic.h / se);
}

Match find_picture(const RgbImage& screen, const RgbImage& ref, const std::vector<int>& divisors) {
  Match best;
  if (screen.empty() || ref.empty()) return best;
  const std::vector<Plane> sp = pyramid(luma(screen), 6);
  for (int d : divisors) {
    const RgbImage pic = shrink(ref, d);
    if (pic.empty() || pic.w > screen.w || pic.h > screen.h) continue;
    const Spot s = locate(sp, pyramid(luma(pic), 6));
    if (s.x < 0) continue;
    const double q = psnr_at(screen, pic, s.x, s.y);
    if (!best.found() || q > best.psnr) best = {s.x, s.y, pic.w, pic.h, d, ref.w, q};
  }
  return best;
}

int read_frame_number(const RgbImage& screen, const Match& where) {
  if (!where.found() || where.source_w <= 0) return -1;
  // Layout of tests/fixtures/make.d/ui.sh in units of u source pixels: a
  // grey band x 12u..336u, y 36u..60u; box i at x (16 + 20 i)u, y 40u, 16u
  // square. The band's top rows must be grey, then each box's inner half
  // white or black.
  const int u = std::max(1, where.source_w / 352);
  const int band = mean_luma(screen, where, 12 * u, 37 * u, 336 * u, 39 * u);
  if (band < 90 || band > 166) return -1;
  int number = 0;
  for (int i = 0; i < 16; ++i) {
    const int x = (16 + 20 * i) * u, y = 40 * u;
    const int mean = mean_luma(screen, where, x + 4 * u, y + 4 * u, x + 12 * u, y + 12 * u);
    if (mean >= 170)
      number |= 1 << i;
    else if (mean < 0 || mean > 85)
      return -1;
  }
  return number;
}

std::string missing_e2e_tool() {
  for (const char* tool : {"Xvfb", "xdotool", "import", "convert", "ffmpeg", "timeout"})
    if (!have_program(tool)) return tool;
  return {};
}

std::string app_path() {
  const char* env = std::getenv("TAMSEL_APP");
  if (!env || !*env || access(env, X_OK) != 0) return {};
  return env;
}

// ---- Process

Process::~Process() {
  if (pid_ > 0 && !reap(false)) {
    kill(-pid_, SIGKILL);
    reap(true);
  }
}

bool Process::start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    const std::string& log_path, int keep_fd) {
  if (pid_ > 0 || argv.empty()) return false;
  // Everything the child needs is built before fork: after it only
  // async-signal-safe calls.
  std::vector<std::string> vars;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    const std::string name = v.substr(0, v.find('='));
    bool replaced = false;
    for (const std::string& x : env) replaced = replaced || x.compare(0, name.size() + 1, name + "=") == 0;
    if (!replaced) vars.push_back(v);
  }
  vars.insert(vars.end(), env.begin(), env.end());
  std::vector<char*> cargv, cenv;
  for (const std::string& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  for (const std::string& v : vars) cenv.push_back(const_cast<char*>(v.c_str()));
  cenv.push_back(nullptr);
  const int out = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (out < 0 || in < 0) {
    if (out >= 0) close(out);
    if (in >= 0) close(in);
    return false;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    // A group of its own, so that a kill reaches its children too; and it
    // dies with the test, even when the test itself is killed.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    if (keep_fd >= 0) fcntl(keep_fd, F_SETFD, 0);
    execvpe(cargv[0], cargv.data(), cenv.data());
    _exit(127);
  }
  close(out);
  close(in);
  if (pid < 0) return false;
  setpgid(pid, pid);  // also here, so a kill of the group cannot miss it
  pid_ = pid;
  status_ = -1;
  return true;
}

bool Process::reap(bool block) {
  if (pid_ <= 0) return true;
  int st = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &st, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return false;
  if (r == pid_) status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
  pid_ = -1;
  return true;
}

bool Process::running() { return pid_ > 0 && !reap(false); }

int Process::wait(double seconds) {
  const auto end = deadline_after(seconds);
  while (!reap(false)) {
    if (Clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

int Process::stop(int sig, double seconds) {
  if (!running()) return status_;
  kill(pid_, sig);
  if (wait(seconds) >= 0) return status_;
  kill(-pid_, SIGKILL);
  reap(true);
  status_ = -1;
  return -1;
}

// ---- XServer

XServer::XServer() : dir_(temp_dir()) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  // Xvfb picks a free display itself and writes its number once it takes
  // connections.
  const bool started = xvfb_.start({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24",
                                    "-nolisten", "tcp", "-noreset"},
                                   {}, dir_ + "/xvfb.log", fds[1]);
  close(fds[1]);
  std::string number;
  const auto end = deadline_after(15);
  while (started && Clock::now() < end) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[32];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    number.append(buf, static_cast<size_t>(n));
    if (number.find('\n') != std::string::npos) break;
  }
  close(fds[0]);
  while (!number.empty() && (number.back() == '\n' || number.back() == '\r')) number.pop_back();
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
    error_ = "Xvfb did not start: " + tail(dir_ + "/xvfb.log", 2000);
    xvfb_.stop(SIGKILL, 5);
    return;
  }
  display_ = ":" + number;
}

XServer::~XServer() { xvfb_.stop(SIGTERM, 5); }

int XServer::run(const std::string& cmd, std::string* out, double seconds) const {
  char secs[32];
  std::snprintf(secs, sizeof secs, "%.1f", seconds);
  return tsupport::run("DISPLAY=" + display_ + " timeout -k 2 " + secs + " sh -c " + sh_quote(cmd),
                       out);
}

std::string XServer::wait_window(const std::string& title_regex, double seconds) const {
  std::string out;
  if (run("xdotool search --sync --onlyvisible --name " + sh_quote(title_regex), &out, seconds) != 0) return {};
  const std::vector<std::string> ids = split_lines(out);
  return ids.empty() ? std::string() : ids.front();
}

std::string XServer::window_title(const std::string& id) const {
  std::string out;
  if (run("xdotool getwindowname " + sh_quote(id), &out) != 0) return {};
  const std::vector<std::string> lines = split_lines(out);
  return lines.empty() ? std::string() : lines.front();
}

bool XServer::focus(const std::string& id) const {
  return run("xdotool windowfocus --sync " + sh_quote(id), nullptr, 5) == 0;
}

bool XServer::key(const std::string& keys) const {
  std::string args;
  std::istringstream in(keys);
  std::string k;
  while (in >> k) args += " " + sh_quote(k);
  return run("xdotool key --delay 30" + args) == 0;
}

bool XServer::type(const std::string& text) const {
  return run("xdotool type --delay 20 -- " + sh_quote(text)) == 0;
}

bool XServer::click(int x, int y, int button) const {
  return run("xdotool mousemove --sync " + std::to_string(x) + " " + std::to_string(y) + " click " +
             std::to_string(button)) == 0;
}

RgbImage XServer::grab() const {
  std::string out;
  if (run("import -window root -depth 8 ppm:-", &out) != 0) return {};
  return parse_ppm(out);
}

bool XServer::keep(const RgbImage& shot, const std::string& name) const {
  const std::string ppm = dir_ + "/shot.ppm";
  const std::string png = shots_dir() + "/" + test_name("e2e") + "-" + name + ".png";
  return write_ppm(ppm, shot) && tsupport::run("convert " + sh_quote(ppm) + " " + sh_quote(png)) == 0;
}

RgbImage XServer::screenshot(const std::string& name) const {
  RgbImage shot = grab();
  if (!shot.empty()) keep(shot, name);
  return shot;
}

Match XServer::wait_picture(const RgbImage& ref, double min_psnr, const std::string& name, RgbImage* screen,
                            double seconds, const std::vector<int>& divisors) const {
  Match best;
  RgbImage best_shot;
  const auto end = deadline_after(seconds);
  do {
    RgbImage shot = grab();
    const Match m = find_picture(shot, ref, divisors);
    if (best_shot.empty() || (m.found() && (!best.found() || m.psnr > best.psnr))) {
      best = m;
      best_shot = std::move(shot);
    }
    if (best.psnr >= min_psnr) break;
  } while (Clock::now() < end);
  if (!best_shot.empty()) keep(best_shot, name);
  if (screen) *screen = std::move(best_shot);
  return best;
}

// ---- App

App::App(const XServer& x, const std::vector<std::string>& args, const AppOptions& options) {
  const std::string dir = temp_dir();
  config_dir_ = options.config_dir.empty() ? dir + "/config" : options.config_dir;
  log_path_ = dir + "/app.log";
  fs::create_directories(config_dir_);
  if (!options.settings.empty()) {
    const std::string& s = options.settings;
    write_file(config_dir_ + "/MPEG-Tamsel.cfg", std::vector<uint8_t>(s.begin(), s.end()));
  }
  std::vector<std::string> argv{options.exe.empty() ? app_path() : options.exe};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env{"DISPLAY=" + x.display(), "TAMSEL_CONFIG_DIR=" + config_dir_, "QT_QPA_PLATFORM=xcb"};
  env.insert(env.end(), options.env.begin(), options.env.end());
  if (!argv[0].empty()) proc_.start(argv, env, log_path_);
}

std::string App::log() const {
  const std::vector<uint8_t> text = read_file(log_path_);
  return std::string(text.begin(), text.end());
}

}  // namespace tsupport
