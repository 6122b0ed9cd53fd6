// "MPEG-Tamsel.cfg": one key per line followed by its values, read by the
// longest key a line begins with; unknown lines and bad values are skipped
// field by field.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/shell/kept_file.h"
#include "engine/clips/file_info.h"
#include "platform/dsaudio.h"
#include "platform/services.h"

namespace {

// Longest line read. A longer one is no settings line: it is skipped
// whole, and its tail is never read as a line of its own.
constexpr size_t kMaxLine = 1023;
constexpr size_t kMaxExtension = 31;

// What sscanf's " %d" and " %lf" read, in the C locale whatever the
// program's locale is.
class Scan {
 public:
  explicit Scan(std::string_view s) : s_(s) {}
  bool i(int32_t* v) {
    skip();
    const char* b = s_.data() + at_;
    const char* e = s_.data() + s_.size();
    if (b < e && *b == '+') ++b;
    long long x = 0;
    auto r = std::from_chars(b, e, x);
    if (r.ec != std::errc() || x < INT32_MIN || x > INT32_MAX) return false;
    at_ = size_t(r.ptr - s_.data());
    *v = int32_t(x);
    return true;
  }
  bool d(double* v) {
    skip();
    const char* b = s_.data() + at_;
    const char* e = s_.data() + s_.size();
    if (b < e && *b == '+') ++b;
    double x = 0;
    auto r = std::from_chars(b, e, x);
    if (r.ec != std::errc() || !std::isfinite(x)) return false;
    at_ = size_t(r.ptr - s_.data());
    *v = x;
    return true;
  }
  std::string_view rest() {
    skip();
    return s_.substr(at_);
  }

 private:
  void skip() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\v' || s_[at_] == '\f')) ++at_;
  }
  std::string_view s_;
  size_t at_ = 0;
};

// All n values or none.
bool ints(std::string_view rest, int n, int32_t* out) {
  Scan s(rest);
  int32_t v[32];
  for (int k = 0; k < n; ++k)
    if (!s.i(&v[k])) return false;
  std::memcpy(out, v, sizeof(int32_t) * size_t(n));
  return true;
}

bool one_int(std::string_view rest, int32_t* v) { return ints(rest, 1, v); }

int32_t mod3(int32_t v) { return ((v % 3) + 3) % 3; }

// A text value is kept only when its line, as written, can be read back.
bool fits(int key, const std::string& value);

void set_folder(std::string* field, int key, std::string_view rest) {
  std::string f = split_path(std::string(rest));
  if (fits(key, f)) *field = std::move(f);
}

bool pid_ok(int32_t v, int32_t other1, int32_t other2) {
  return v >= 16 && v <= 8190 && v != other1 && v != other2;
}

enum Key {
  kJumpFormat,
  kJumpData,
  kKeyMap,
  kKeyMapEx,
  kImageSize,
  kFieldMode,
  kActivePage,
  kUndoSize,
  kAudioVolume,
  kChannelLeft,
  kChannelRight,
  kVideoLooping,
  kTransitionLength,
  kImageLength,
  kAudioCrc,
  kImageColor,
  kDllManager,
  kShowSplash,
  kDisplayTimeCode,
  kMeAlgorithm,
  kInitialWindow,
  kZoomedWindow,
  kOpenPath,
  kLoadPath,
  kSavePath,
  kImageExtension,
  kTrimPath,
  kMuxerIn,
  kMuxerOut,
  kDemuxerIn,
  kDemuxerOut,
  kConvertorIn,
  kConvertorOut,
  kSaveType,
  kFullScan,
  kMuxerType,
  kPmtPid,
  kVideoPid,
  kAudioPid,
  kConvertorInColumns,
  kConvertorOutColumns,
  kShowMinSizeInfo,
  kSelectMinSize,
  kAvSyncRange,
  kMbsAutoStart,
  kTemporalFilter,
  kDeinterlaceFilter,
  kSceneChange,
  kInverseTelecine,
  kKeyCountOfTable
};

const char* const kKeys[kKeyCountOfTable] = {
    "Keyboard Jump Format",
    "Keyboard Jump Data",
    "Keyboard Key Map",
    "Keyboard Key Map Ex",
    "Image Size",
    "Field Mode",
    "Active Page Index",
    "Undo Size",
    "Audio Volume",
    "Audio Channel Left",
    "Audio Channel Right",
    "Video Looping",
    "Initial Video Transition Length",
    "Initial Video Image Length",
    "Audio CRC Flag (MPEG-1 audio)",
    "Image Color",
    "DLL Manager Configuration",
    "Show Splash Window",
    "Display Time Code",
    "ME Algorithm",
    "Initial Window",
    "Initial Zoomed Window",
    "Default Open Path",
    "Default Load Path",
    "Default Save Path",
    "Default Image File Name Extension",
    "Default Trim Path",
    "Default Muxer Input Path",
    "Default Muxer Output Path",
    "Default Demuxer Input Path",
    "Default Demuxer Output Path",
    "Default Convertor Input Path",
    "Default Convertor Output Path",
    "Selected Save Type",
    "Full Scan In Loading MPEG",
    "Selected Muxer Type",
    "Program Map Table PID",
    "Video ES PID",
    "Audio ES PID",
    "Convertor Input Columns",
    "Convertor Output Columns",
    "Show Muxer Minimize Size Info",
    "Select Muxer Minimize Size",
    "Muxer AV-Sync Range",
    "MBS Scan Auto Start",
    "Video Encoder Temporal Filter",
    "Video Encoder De-Interlace Filter",
    "Video Encoder Scene Change Detection",
    "Video Encoder Inverse Telecine Filter",
};

bool fits(int key, const std::string& value) { return std::strlen(kKeys[key]) + 1 + value.size() <= kMaxLine; }

int find_key(std::string_view line) {
  int best = -1;
  size_t best_len = 0;
  for (int k = 0; k < kKeyCountOfTable; ++k) {
    const size_t n = std::strlen(kKeys[k]);
    if (n > best_len && line.substr(0, n) == kKeys[k]) {
      best = k;
      best_len = n;
    }
  }
  return best;
}

void set_in_range(std::string_view rest, int32_t* field, int32_t lo, int32_t hi) {
  int32_t v;
  if (one_int(rest, &v) && v >= lo && v <= hi) *field = v;
}

void set_atomic_in_range(std::string_view rest, std::atomic<int>* field, int32_t lo, int32_t hi) {
  int32_t v;
  if (one_int(rest, &v) && v >= lo && v <= hi) *field = v;
}

void parse_line(EditorSettings& s, std::string_view line) {
  const int k = find_key(line);
  if (k < 0) return;
  const std::string_view rest = line.substr(std::strlen(kKeys[k]));
  int32_t v = 0;
  switch (k) {
    case kJumpFormat:
      if (one_int(rest, &v)) s.jump_format = mod3(v);
      break;
    case kJumpData: {
      Scan sc(rest);
      int32_t a[4];
      double x[2];
      if (sc.i(&a[0]) && sc.i(&a[1]) && sc.i(&a[2]) && sc.i(&a[3]) && sc.d(&x[0]) && sc.d(&x[1])) {
        s.spare_jump_frames = a[0];
        s.jump_frames = a[1];
        s.spare_jump_percent = a[2];
        s.jump_percent = a[3];
        s.spare_jump_seconds = x[0];
        s.jump_seconds = x[1];
      }
      break;
    }
    case kKeyMap: {
      int32_t a[9];
      if (ints(rest, 9, a)) {
        // Codes 1-7, then 9, then 8.
        for (int i = 0; i < 7; ++i) s.keys[i] = a[i];
        s.keys[8] = a[7];
        s.keys[7] = a[8];
      }
      break;
    }
    case kKeyMapEx: {
      int32_t a[20];
      if (ints(rest, 20, a))
        for (int i = 0; i < 20; ++i) s.keys[9 + i] = a[i];
      break;
    }
    case kImageSize:
      if (one_int(rest, &v)) s.image_size = mod3(v);
      break;
    case kFieldMode:
      one_int(rest, &s.field_mode);
      break;
    case kActivePage:
      one_int(rest, &s.active_page);
      break;
    case kUndoSize:
      set_in_range(rest, &s.undo_size, 8, 64);
      break;
    case kAudioVolume:
      set_atomic_in_range(rest, &audio_volume, 0, 80);
      break;
    case kChannelLeft:
      set_atomic_in_range(rest, &audio_channel_left, 0, 1);
      break;
    case kChannelRight:
      set_atomic_in_range(rest, &audio_channel_right, 0, 1);
      break;
    case kVideoLooping:
      s.video_looping = 1;
      break;
    case kTransitionLength:
      Scan(rest).d(&s.transition_length);
      break;
    case kImageLength:
      Scan(rest).d(&s.image_length);
      break;
    case kAudioCrc:
      one_int(rest, &s.audio_crc);
      break;
    case kImageColor:
      if (one_int(rest, &v)) s.image_color = (v == 8 || v == 16 || v == 24) ? v : 8;
      break;
    case kDllManager:
      break;
    case kShowSplash:
      one_int(rest, &s.show_splash);
      break;
    case kDisplayTimeCode:
      one_int(rest, &s.display_time_code);
      break;
    case kMeAlgorithm:
      one_int(rest, &s.me_algorithm);
      break;
    case kInitialWindow: {
      int32_t a[4];
      if (ints(rest, 4, a)) {
        s.window_rect[0] = a[0];
        s.window_rect[2] = a[1];
        s.window_rect[1] = a[2];
        s.window_rect[3] = a[3];
      }
      break;
    }
    case kZoomedWindow:
      one_int(rest, &s.window_zoomed);
      break;
    case kOpenPath:
      set_folder(&s.open_folder, k, rest);
      break;
    case kLoadPath:
      set_folder(&s.load_folder, k, rest);
      break;
    case kSavePath:
      set_folder(&s.save_folder, k, rest);
      break;
    case kImageExtension: {
      const std::string_view e = Scan(rest).rest();
      if (!e.empty()) s.image_extension = std::string(e.substr(0, kMaxExtension));
      break;
    }
    case kTrimPath:
      set_folder(&s.trim_folder, k, rest);
      break;
    case kMuxerIn:
      set_folder(&s.muxer_in_folder, k, rest);
      break;
    case kMuxerOut:
      set_folder(&s.muxer_out_folder, k, rest);
      break;
    case kDemuxerIn:
      set_folder(&s.demuxer_in_folder, k, rest);
      break;
    case kDemuxerOut:
      set_folder(&s.demuxer_out_folder, k, rest);
      break;
    case kConvertorIn:
      set_folder(&s.convertor_in_folder, k, rest);
      break;
    case kConvertorOut:
      set_folder(&s.convertor_out_folder, k, rest);
      break;
    case kSaveType:
      // Every kind the Save dialog stores: project, the systems and
      // elementary kinds 2-6 and transport streams (8).
      if (one_int(rest, &v) && (v == 0 || (v >= 2 && v <= 6) || v == 8)) s.save_type = v;
      break;
    case kFullScan:
      if (one_int(rest, &v) && (v == 0 || v == 1)) {
        s.full_scan = v;
        s.apply_full_scan();
      }
      break;
    case kMuxerType:
      set_in_range(rest, &s.muxer_type, 1, 4);
      break;
    case kPmtPid:
      if (one_int(rest, &v) && pid_ok(v, s.video_pid, s.audio_pid)) s.pmt_pid = v;
      break;
    case kVideoPid:
      if (one_int(rest, &v) && pid_ok(v, s.audio_pid, s.pmt_pid)) s.video_pid = v;
      break;
    case kAudioPid:
      if (one_int(rest, &v) && pid_ok(v, s.video_pid, s.pmt_pid)) s.audio_pid = v;
      break;
    case kConvertorInColumns:
      ints(rest, 3, s.convertor_in_columns);
      break;
    case kConvertorOutColumns:
      ints(rest, 3, s.convertor_out_columns);
      break;
    case kShowMinSizeInfo:
      one_int(rest, &s.show_min_size_info);
      break;
    case kSelectMinSize:
      one_int(rest, &s.select_min_size);
      break;
    case kAvSyncRange:
      one_int(rest, &s.av_sync_range);
      break;
    case kMbsAutoStart:
      one_int(rest, &s.mbs_scan_auto_start);
      break;
    case kTemporalFilter:
      one_int(rest, &s.encoder_temporal_filter);
      break;
    case kDeinterlaceFilter:
      one_int(rest, &s.encoder_deinterlace_filter);
      break;
    case kSceneChange:
      one_int(rest, &s.encoder_scene_change);
      break;
    case kInverseTelecine:
      one_int(rest, &s.encoder_inverse_telecine);
      break;
  }
}

void check_window_rect(EditorSettings& s) {
  ScreenInfo* screen = platform().screen;
  const int w = screen->width(), h = screen->height();
  const int32_t* r = s.window_rect;
  const bool fits = r[0] >= 0 && r[0] < w && r[0] < r[2] && r[2] <= w && r[1] >= 0 && r[1] < h && r[1] < r[3] &&
                    r[3] <= h;
  if (!fits) {
    s.window_rect[0] = 0;
    s.window_rect[1] = 0;
    s.window_rect[2] = 600;
    s.window_rect[3] = 400;
  }
}

class Writer {
 public:
  void line(const char* key, const char* fmt, ...) __attribute__((format(printf, 3, 4))) {
    out_ += key;
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    if (n > 0) {
      std::string buf(size_t(n) + 1, '\0');
      std::vsnprintf(buf.data(), buf.size(), fmt, again);
      buf.resize(size_t(n));
      out_ += buf;
    }
    va_end(again);
  }
  // "%f" (six decimals) or "%.3f" of old, in the C locale.
  static std::string fixed(double v, int decimals) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0");
  }
  void text(const std::string& s) { out_ += s; }
  void folder(const char* key, const std::string& value) {
    if (!value.empty()) line(key, " %s\n", value.c_str());
  }
  const std::string& str() const { return out_; }

 private:
  std::string out_;
};

std::string settings_text(const EditorSettings& s) {
  Writer w;
  w.text("#\n# Editor settings:\n#\n");
  w.line(kKeys[kActivePage], " %d \n", s.active_page);
  w.line(kKeys[kUndoSize], " %d \n", s.undo_size);
  w.line(kKeys[kAudioVolume], " %d \n", audio_volume.load());
  w.line(kKeys[kChannelLeft], " %d \n", audio_channel_left.load());
  w.line(kKeys[kChannelRight], " %d \n", audio_channel_right.load());
  if (s.video_looping) w.line(kKeys[kVideoLooping], "\n");
  w.line(kKeys[kJumpFormat], " %d\n", s.jump_format);
  w.line(kKeys[kJumpData], " %d %d %d %d %s %s\n", s.spare_jump_frames, s.jump_frames, s.spare_jump_percent,
         s.jump_percent, Writer::fixed(s.spare_jump_seconds, 3).c_str(), Writer::fixed(s.jump_seconds, 3).c_str());
  const int32_t* k = s.keys;
  w.line(kKeys[kKeyMap], " %d %d %d %d %d %d %d %d %d\n", k[0], k[1], k[2], k[3], k[4], k[5], k[6], k[8], k[7]);
  w.text(kKeys[kKeyMapEx]);
  for (int i = 9; i < kKeyCount; ++i) w.line("", " %d", k[i]);
  w.text("\n");
  w.line(kKeys[kImageSize], " %d \n", s.image_size);
  w.line(kKeys[kFieldMode], " %d \n", s.field_mode);
  w.line(kKeys[kImageColor], " %d \n", s.image_color);
  w.line(kKeys[kTransitionLength], " %s \n", Writer::fixed(s.transition_length, 6).c_str());
  w.line(kKeys[kImageLength], " %s \n", Writer::fixed(s.image_length, 6).c_str());
  w.line(kKeys[kAudioCrc], " %d \n", s.audio_crc);
  w.line(kKeys[kShowSplash], " %d \n", s.show_splash);
  w.line(kKeys[kDisplayTimeCode], " %d \n", s.display_time_code);
  w.line(kKeys[kMeAlgorithm], " %d \n", s.me_algorithm);
  w.line(kKeys[kFullScan], " %d \n", s.full_scan);
  w.line(kKeys[kSaveType], " %d \n", s.save_type);
  w.line(kKeys[kMuxerType], " %d \n", s.muxer_type);
  w.line(kKeys[kPmtPid], " %d \n", s.pmt_pid);
  w.line(kKeys[kVideoPid], " %d \n", s.video_pid);
  w.line(kKeys[kAudioPid], " %d \n", s.audio_pid);
  w.line(kKeys[kInitialWindow], " %d %d %d %d\n", s.window_rect[0], s.window_rect[2], s.window_rect[1],
         s.window_rect[3]);
  w.line(kKeys[kZoomedWindow], " %d \n", s.window_zoomed);
  w.folder(kKeys[kOpenPath], s.open_folder);
  w.folder(kKeys[kLoadPath], s.load_folder);
  w.folder(kKeys[kSavePath], s.save_folder);
  w.folder(kKeys[kTrimPath], s.trim_folder);
  w.folder(kKeys[kImageExtension], s.image_extension);
  w.folder(kKeys[kMuxerIn], s.muxer_in_folder);
  w.folder(kKeys[kMuxerOut], s.muxer_out_folder);
  w.folder(kKeys[kDemuxerIn], s.demuxer_in_folder);
  w.folder(kKeys[kDemuxerOut], s.demuxer_out_folder);
  w.folder(kKeys[kConvertorIn], s.convertor_in_folder);
  w.folder(kKeys[kConvertorOut], s.convertor_out_folder);
  w.line(kKeys[kConvertorInColumns], " %d %d %d\n", s.convertor_in_columns[0], s.convertor_in_columns[1],
         s.convertor_in_columns[2]);
  w.line(kKeys[kConvertorOutColumns], " %d %d %d\n", s.convertor_out_columns[0], s.convertor_out_columns[1],
         s.convertor_out_columns[2]);
  w.line(kKeys[kShowMinSizeInfo], " %d \n", s.show_min_size_info);
  w.line(kKeys[kSelectMinSize], " %d \n", s.select_min_size);
  w.line(kKeys[kAvSyncRange], " %d \n", s.av_sync_range);
  w.line(kKeys[kMbsAutoStart], " %d \n", s.mbs_scan_auto_start);
  w.line(kKeys[kTemporalFilter], " %d \n", s.encoder_temporal_filter);
  w.line(kKeys[kDeinterlaceFilter], " %d \n", s.encoder_deinterlace_filter);
  w.line(kKeys[kSceneChange], " %d \n", s.encoder_scene_change);
  w.line(kKeys[kInverseTelecine], " %d \n", s.encoder_inverse_telecine);
  w.text("\n");
  return w.str();
}

std::string settings_path(const std::string& folder) {
  return folder.empty() || folder.back() == '/' ? folder + kSettingsFileName : folder + "/" + kSettingsFileName;
}

}  // namespace

int EditorSettings::read(const std::string& path) {
  std::string text;
  if (!read_kept_file(path, &text)) return 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + at, end - at);
    at = end + 1;
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > kMaxLine) continue;
    // A line holding a NUL ends there, as a C string would.
    const size_t nul = line.find('\0');
    if (nul != std::string_view::npos) line = line.substr(0, nul);
    if (line.empty() || line[0] == '#' || line.substr(0, 2) == "//") continue;
    parse_line(*this, line);
  }
  check_window_rect(*this);
  return 1;
}

int EditorSettings::write(const std::string& path) const {
  return write_kept_file(path, settings_text(*this)) ? 1 : 0;
}

std::string get_program_folder(std::string* error) { return platform().paths->config_folder(error); }

bool load_config(std::string* error) {
  EditorSettings& s = editor_settings();
  const std::string folder = get_program_folder(error);
  if (folder.empty()) return false;
  s.program_folder = folder;
  s.read(settings_path(folder));
  set_still_image_duration(s.image_length);
  return true;
}

bool save_config() {
  const std::string folder = get_program_folder();
  if (folder.empty()) return false;
  return editor_settings().write(settings_path(folder)) != 0;
}
