// Settings files of arbitrary bytes: the reader takes only values its keys
// allow, and what it read writes out and reads back to the same file (but
// for the PIDs: checked in file order against each other, three PIDs
// that permute the defaults cannot be read back).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/shell/editor_settings.h"
#include "app/shell/kept_file.h"
#include "fuzz_temp_file.h"
#include "platform/dsaudio.h"

static std::string without_pids(const std::string& text) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    if (line.find(" PID ") == std::string::npos) out += line + "\n";
    at = end + 1;
  }
  return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzTempFile in(data, size);
  if (!in.path()) return 0;
  audio_volume = 40;
  EditorSettings s;
  if (s.read(in.path()) != 1) std::abort();
  const bool ok = (s.undo_size == 16 || (s.undo_size >= 8 && s.undo_size <= 64)) && s.image_size >= 0 &&
                  s.image_size <= 2 && s.jump_format >= 0 && s.jump_format <= 2 &&
                  (s.image_color == 8 || s.image_color == 16 || s.image_color == 24) &&
                  (s.save_type == 0 || (s.save_type >= 2 && s.save_type <= 6) || s.save_type == 8) &&
                  s.muxer_type >= 1 && s.muxer_type <= 4 && s.pmt_pid != s.video_pid && s.pmt_pid != s.audio_pid &&
                  s.video_pid != s.audio_pid && audio_volume >= 0 && audio_volume <= 80 &&
                  s.open_folder.size() <= 259 && s.image_extension.size() <= 31 &&
                  s.window_rect[0] < s.window_rect[2] && s.window_rect[1] < s.window_rect[3];
  if (!ok) std::abort();
  char dir[] = "/tmp/fuzz-settings-XXXXXX";
  if (!mkdtemp(dir)) return 0;
  const std::string a = std::string(dir) + "/a.cfg", b = std::string(dir) + "/b.cfg";
  EditorSettings again;
  std::string ta, tb;
  if (s.write(a) != 1 || again.read(a) != 1 || again.write(b) != 1 || !read_kept_file(a, &ta) ||
      !read_kept_file(b, &tb) || without_pids(ta) != without_pids(tb))
    std::abort();
  unlink(a.c_str());
  unlink(b.c_str());
  rmdir(dir);
  return 0;
}
