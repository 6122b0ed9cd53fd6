#include "fake_editor.h"

#include "app/shell/editor_app.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// 3 x 5 digits, one row of three bits per line, top row first.
const uint8_t kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

constexpr int kWhite = 255;

FakeRgb palette(int i) {
  if (i == kWhite) return {255, 255, 255};
  return {(i * 37 + 20) & 255, (i * 91 + 64) & 255, (i * 53 + 128) & 255};
}

// Palette index of a frame's picture at (x, y), top-down.
int index_at(int frame, int x, int y, int width, int height) {
  const int s = std::max(2, height / 36);
  const int ox = 8, oy = 8;
  const std::string digits = std::to_string(frame < 0 ? 0 : frame);
  if (y >= oy && y < oy + 5 * s && x >= ox) {
    const int cell = (x - ox) / s, row = (y - oy) / s;
    const int digit = cell / 4, col = cell % 4;
    if (digit < int(digits.size()) && col < 3 && (kDigits[digits[size_t(digit)] - '0'][row] >> (2 - col) & 1))
      return kWhite;
  }
  return (frame * 3 + (y * 4 / height) * 2 + (x * 2 / width)) % 254;
}

int widen5(int v) {
  v >>= 3;
  return (v << 3) | (v >> 2);
}

}  // namespace

FakeEditor::FakeEditor(int frames_, int width_, int height_, double rate_)
    : frames(frames_), width(width_), height(height_), rate(rate_) {}

FakeRgb FakeEditor::rgb_at(int frame, int x, int y, int w, int h, int d) {
  const FakeRgb c = palette(index_at(frame, x, y, w, h));
  if (d == 16) return {widen5(c.r), widen5(c.g), widen5(c.b)};
  return c;
}

std::string FakeEditor::get_trim_range(int* start, int* count) {
  if (trim_file.empty()) return {};
  if (start) *start = trim_start;
  if (count) *count = trim_count;
  return trim_file;
}

int FakeEditor::get_longest_video_info(VideoInfo* out) {
  if (out) {
    *out = VideoInfo();
    out->frame_rate = rate;
    out->width = coded_width > 0 ? coded_width : width;
    out->height = coded_height > 0 ? coded_height : height;
  }
  return 0;
}

int FakeEditor::timecode_2_frame(const std::string& text) {
  int h, m, s, f;
  if (std::sscanf(text.c_str(), "%d:%d:%d:%d", &h, &m, &s, &f) != 4) return -1;
  const int fps = std::max(1, int(std::lround(rate)));
  return ((h * 60 + m) * 60 + s) * fps + f;
}

std::string FakeEditor::get_frame_offset_timecode(int frame) {
  const int fps = std::max(1, int(std::lround(rate)));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%02d", frame / fps / 3600, frame / fps / 60 % 60, frame / fps % 60,
                frame % fps);
  return buf;
}

int FakeEditor::search(int frame, int exact) {
  calls.push_back("search " + std::to_string(frame) + " " + std::to_string(exact));
  current = std::max(0, std::min(frame, frames - 1));
  return current;
}

int FakeEditor::forward(int n) {
  const int before = current;
  current = std::min(current + std::max(n, 0), frames - 1);
  return current - before;
}

int FakeEditor::backward() {
  if (current <= 0) return 0;
  --current;
  return 1;
}

int FakeEditor::set_play_mode(int mode) {
  const int old = play_mode;
  if (mode >= 3 && mode <= 5) play_mode = mode;
  return old;
}

int FakeEditor::take(std::deque<int>* script, int otherwise) {
  if (script->empty()) return otherwise;
  const int r = script->front();
  script->pop_front();
  return r;
}

std::unique_ptr<EClip> FakeEditor::frame_copy(int start, int count) {
  calls.push_back("frame_copy " + std::to_string(start) + " " + std::to_string(count));
  if (start == 0 && count == 0) count = frames;
  if (start < 0 || count <= 0 || start + count > frames) return nullptr;
  auto clip = std::make_unique<EClip>();
  clip->name = file;
  Clip c;
  c.set_file_name(file.c_str());
  c.clip_type = 2;
  c.start = start;
  c.count = count;
  clip->clips.push_back(c);
  return clip;
}

std::unique_ptr<EClip> FakeEditor::copy(double start, double length) {
  if (start == 0 && length == 0) return frame_copy(0, 0);
  return frame_copy(time_2_frame(start), time_2_frame(length));
}

int FakeEditor::frame_cut(int start, int count) {
  calls.push_back("frame_cut " + std::to_string(start) + " " + std::to_string(count));
  const bool ok = start >= 0 && count > 0 && start + count <= frames && count < frames;
  const int r = take(&cut_results, ok ? 1 : 0);
  if (r && ok) {
    frames -= count;
    if (current >= start + count)
      current -= count;
    else if (current >= start)
      current = std::min(start, frames - 1);
  }
  return r;
}

static int clip_frames(const EClip& clip) {
  int n = 0;
  for (const auto& c : clip.clips) n += c.count;
  return n;
}

int FakeEditor::paste(const EClip& clip, double t, int effect_id, double seconds) {
  (void)effect_id;
  (void)seconds;
  return frame_paste(clip, time_2_frame(t));
}

int FakeEditor::frame_paste(const EClip& clip, int frame) {
  calls.push_back("frame_paste " + std::to_string(frame));
  const bool ok = frame >= 0 && frame <= frames && clip_frames(clip) > 0;
  const int r = take(&paste_results, ok ? 1 : 0);
  if (r && ok) frames += clip_frames(clip);
  return r;
}

int FakeEditor::replace(const EClip& clip) {
  calls.push_back("replace");
  const int n = clip_frames(clip);
  const int r = take(&replace_results, n > 0 ? 1 : 0);
  if (r && n > 0) {
    frames = n;
    current = std::min(current, frames - 1);
  }
  return r;
}

int FakeEditor::frame_remove_transitions(int frame) {
  calls.push_back("frame_remove_transitions " + std::to_string(frame));
  return 0;
}

double FakeEditor::insert_transitions(double t, int effect_id, double seconds) {
  calls.push_back("insert_transitions " + std::to_string(effect_id));
  return t >= 0 && seconds > 0 ? 1.0 : 0.0;
}

int FakeEditor::add_overlay(const std::string& f, int, int effect_id, int frame, int length) {
  calls.push_back("add_overlay " + f + " " + std::to_string(effect_id) + " " + std::to_string(frame) + " " +
                  std::to_string(length));
  return 1;
}

int FakeEditor::set_bmp_depth(int bits) {
  const int old = depth;
  calls.push_back("set_bmp_depth " + std::to_string(bits));
  if (bits == 8 || bits == 16 || bits == 24) depth = bits;
  return old;
}

void FakeEditor::render() {
  if (rendered_frame_ == current && rendered_depth_ == depth && rendered_w_ == width && rendered_h_ == height &&
      header_)
    return;
  header_ = std::make_unique<BitmapInfo>();
  bmp_fill_dib_header(header_.get(), depth, width, height);
  header_->header.biHeight = height;  // bottom-up rows
  header_->header.biCompression = 0;
  if (depth == 8) {
    header_->header.biClrUsed = 256;
    for (int i = 0; i < 256; ++i) {
      const FakeRgb c = palette(i);
      header_->colors[i] = RGBQuad{uint8_t(c.b), uint8_t(c.g), uint8_t(c.r), 0};
    }
  } else {
    header_->header.biClrUsed = 0;
  }
  const int stride = bmp_get_bytes_per_line(depth, width);
  header_->header.biSizeImage = uint32_t(stride * height);
  bits_.assign(size_t(stride) * size_t(height), 0);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bits_.data() + size_t(height - 1 - y) * size_t(stride);
    for (int x = 0; x < width; ++x) {
      const int i = index_at(current, x, y, width, height);
      const FakeRgb c = palette(i);
      if (depth == 8) {
        row[x] = uint8_t(i);
      } else if (depth == 16) {
        const uint16_t v = uint16_t((c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3));
        row[2 * x] = uint8_t(v);
        row[2 * x + 1] = uint8_t(v >> 8);
      } else {
        row[3 * x] = uint8_t(c.b);
        row[3 * x + 1] = uint8_t(c.g);
        row[3 * x + 2] = uint8_t(c.r);
      }
    }
  }
  rendered_frame_ = current;
  rendered_depth_ = depth;
  rendered_w_ = width;
  rendered_h_ = height;
}

const BitmapInfo* FakeEditor::get_decoded_image_dib_header() {
  render();
  return header_.get();
}

const uint8_t* FakeEditor::get_decoded_image_dib_data() {
  render();
  return bits_.data();
}

int FakeEditor::save_image(const std::string& path, int kind, int quality) {
  calls.push_back("save_image " + path + " " + std::to_string(kind) + " " + std::to_string(quality));
  std::ofstream f(path, std::ios::binary);
  f << "image of frame " << current;
  return f.good() ? 1 : 0;
}

const int16_t* FakeEditor::get_audio_samples(int* bytes) {
  if (!audio) {
    if (bytes) *bytes = 0;
    return nullptr;
  }
  // A block of 1152 samples per channel of a 1 kHz tone at the frame's time.
  pcm_.assign(size_t(1152 * channels), 0);
  for (int i = 0; i < 1152; ++i) {
    const int16_t v = int16_t(8000 * std::sin(2 * M_PI * 1000.0 * i / sample_rate));
    for (int c = 0; c < channels; ++c) pcm_[size_t(i * channels + c)] = v;
  }
  if (bytes) *bytes = int(pcm_.size() * 2);
  return pcm_.data();
}

bool write_fake_movie(const std::string& path, int frames, int width, int height, double rate, bool audio) {
  std::ofstream f(path);
  f << "FAKE-MOVIE frames=" << frames << " width=" << width << " height=" << height << " rate=" << rate
    << " audio=" << (audio ? 1 : 0) << "\n";
  return f.good();
}

EditorFactory fake_editor_factory(std::vector<FakeEditor*>* made) {
  return [made](const std::string& path, int size_mode) -> std::unique_ptr<IEditor> {
    std::ifstream f(path);
    std::string magic;
    if (!(f >> magic) || magic != "FAKE-MOVIE") return nullptr;
    auto e = std::make_unique<FakeEditor>();
    e->file = path;
    std::string kv;
    while (f >> kv) {
      const size_t eq = kv.find('=');
      if (eq == std::string::npos) continue;
      const std::string k = kv.substr(0, eq), v = kv.substr(eq + 1);
      if (k == "frames") e->frames = std::stoi(v);
      if (k == "width") e->width = std::stoi(v);
      if (k == "height") e->height = std::stoi(v);
      if (k == "rate") e->rate = std::stod(v);
      if (k == "audio") e->audio = v == "1";
    }
    if (e->frames <= 0 || e->width <= 0 || e->height <= 0) return nullptr;
    if (size_mode == 1 || size_mode == 2) {
      e->size_mode = size_mode;
      e->coded_width = e->width;
      e->coded_height = e->height;
      e->width >>= size_mode;
      e->height >>= size_mode;
    }
    if (made) made->push_back(e.get());
    return e;
  };
}

EditorClipFactory fake_clip_factory(std::vector<FakeEditor*>* made) {
  return [made](const EClip& clip, int size_mode) -> std::unique_ptr<IEditor> {
    const char* file = clip.clips.empty() ? nullptr : clip.clips[0].get_file_name();
    return file ? fake_editor_factory(made)(file, size_mode) : nullptr;
  };
}

InputProbe fake_input_probe() {
  auto word = [](const std::string& path) {
    std::ifstream f(path);
    std::string w;
    f >> w;
    return w;
  };
  InputProbe p;
  p.stream_type = [word](const std::string& path) {
    const std::string w = word(path);
    return w == "AUDIO" ? 1 : w == "FAKE-MOVIE" ? 3 : 0;
  };
  p.segment_changes = [](const std::string& path) {
    return path.find("/seg") != std::string::npos ? 2 : 0;
  };
  p.video_streams = [word](const std::string& path) {
    const std::string w = word(path);
    return w == "AUDIO" ? 0 : w == "FAKE-MOVIE" ? 1 : -1;
  };
  return p;
}

