#include <algorithm>

#include "app/audio/audio_player.h"
#include "app/shell/kept_file.h"
#include "platform/services.h"

namespace {

std::string folder_of(const std::string& path) {
  const size_t p = path.find_last_of('/');
  return p == std::string::npos ? std::string() : path.substr(0, p);
}

}  // namespace

std::string AudioPlayer::config_path() const {
  const std::string folder = platform().paths ? platform().paths->config_folder() : std::string();
  return folder.empty() ? std::string() : folder + "/" + kPlayerConfigName;
}

bool AudioPlayer::SaveConfig(const std::array<int, 4>& window, std::time_t when) {
  const std::string path = config_path();
  if (path.empty()) return false;
  PlayerConfig c;
  c.track_index = current_;
  c.position = slider_;
  c.editor = editor_mode_ ? 1 : 0;
  c.loop = int(mark_state_ == 2 ? segment_loop_ : loop_);
  c.loop_player = int(player_loop_);
  c.mark_state = mark_state_ == 2 ? 2 : 0;
  c.mark_start = mark_start_;
  c.mark_end = mark_end_;
  c.init_path = folders.track;
  c.list_path = folders.list;
  c.lyrics_path = folders.lyrics;
  c.insert_path = folders.insert;
  c.insert_scale[0] = folders.insert_scale[0];
  c.insert_scale[1] = folders.insert_scale[1];
  c.save_path = folders.save;
  c.left = window[0];
  c.top = window[1];
  c.right = window[2];
  c.bottom = window[3];
  c.volume = volume_;
  return write_kept_file(path, format_player_config(c, list_, equalizer, when));
}

int AudioPlayer::WriteTrackList(const std::string& path) {
  if (!write_kept_file(path, format_track_list(list_, equalizer))) return 0;
  return int(list_.size());
}

int AudioPlayer::ReadTrackList(const std::string& path) {
  std::string text;
  if (!read_kept_file(path, &text)) return 0;
  TrackListRead r = parse_track_list(text, file_readable);
  if (r.entries.empty() && !list_.empty()) return 0;
  if (!r.entries.empty()) {
    if (playing_) StopPlay();
    list_.clear();
    CloseTrack();
    for (AudioTrackEntry& e : r.entries) {
      // The place of a stream is not stored: count the file's entries.
      e.place = 0;
      if (e.stream_id != 0) {
        e.place = 1;
        for (const AudioTrackEntry& x : list_) e.place += x.path == e.path ? 1 : 0;
      }
      AppendEntry(e);
    }
  }
  if (r.equalizer_read) equalizer = r.equalizer;
  changed();
  return int(list_.size());
}

int AudioPlayer::LoadPlayList(const std::string& path) {
  const std::string playing_path = current_ >= 0 ? list_[size_t(current_)].path : std::string();
  const int n = ReadTrackList(path);
  if (n == 0) return 0;
  folders.list = folder_of(path);
  int open = -1;
  for (size_t i = 0; i < list_.size() && open < 0; ++i)
    if (!playing_path.empty() && list_[i].path == playing_path) open = int(i);
  if (open < 0) open = next_track_index(list_, -1, LoopMode::None, {});
  if (open >= 0) OpenPlayTrack(open, false, false);
  return n;
}

PlayerConfig AudioPlayer::LoadConfig() {
  PlayerConfig c;
  const std::string path = config_path();
  std::string text;
  if (path.empty() || !read_kept_file(path, &text)) return c;
  c = parse_player_config(text);
  const int n = ReadTrackList(path);
  settle_player_config(&c, n);
  folders.track = c.init_path;
  folders.list = c.list_path;
  folders.lyrics = c.lyrics_path;
  folders.insert = c.insert_path;
  folders.insert_scale[0] = c.insert_scale[0];
  folders.insert_scale[1] = c.insert_scale[1];
  folders.save = c.save_path;
  if (c.volume >= 0) SetVolume(c.volume);
  player_loop_ = LoopMode(c.loop_player);
  if (n > 0 && c.track_index >= 0) {
    OpenPlayTrack(c.track_index, false, false);
    // Opening the track must not change the loop mode read.
    loop_ = LoopMode(c.loop);
    if (track_ && c.mark_state == 2) {
      RestoreSegment(c.mark_start, c.mark_end, c.position);
    } else if (track_ && c.position) {
      Seek(c.position);
    }
    if (track_ && c.editor && EnterEditor()) player_loop_ = LoopMode(c.loop_player);
  } else {
    loop_ = LoopMode(c.loop);
  }
  changed();
  return c;
}
