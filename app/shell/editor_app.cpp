#include "app/shell/editor_app.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "app/shell/command_ids.h"
#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "engine/clips/file_info.h"
#include "foundation/probe.h"
#include "platform/dsaudio.h"
#include "platform/services.h"

namespace {

void exclamation(const std::string& text) {
  platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok, text);
}

// A file that opens for reading and is not a folder.
bool readable_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  const bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  ::close(fd);
  return ok;
}

bool ends_with(const std::string& s, const char* tail) {
  const std::string t(tail);
  return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

bool ends_with_ignoring_case(const std::string& s, const char* tail) {
  const std::string t(tail);
  if (s.size() < t.size()) return false;
  for (size_t i = 0; i < t.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - t.size() + i])) != std::tolower(static_cast<unsigned char>(t[i])))
      return false;
  return true;
}

}  // namespace

InputProbe InputProbe::engine() {
  InputProbe p;
  p.stream_type = [](const std::string& path) { return mpegfile_get_stream_type(path.c_str()); };
  p.segment_changes = [](const std::string& path) {
    FileInfoFacade info;
    return info.open(path.c_str()) == 0 ? info.get_stream_info_total() : 0;
  };
  p.video_streams = [](const std::string& path) {
    FileInfoFacade info;
    if (info.open(path.c_str()) != 0) return -1;
    int count = 0;
    info.get_video_infos(&count);
    return count;
  };
  return p;
}

CEditorApp::CEditorApp(EditorFactory factory) : factory_(std::move(factory)) { add_commands(); }

CEditorApp::~CEditorApp() {
  for (auto& e : entries_)
    if (e) release_editor(e.get());
}

bool CEditorApp::init_instance(std::string* error) {
  const bool loaded = load_config(error);
  EditorSettings& s = editor_settings();
  s.screen_depth = platform().screen->depth();
  if (s.screen_depth == 8) s.image_color = 8;
  init_editor_table();
  return loaded;
}

bool CEditorApp::exit_instance() {
  init_editor_table();
  return save_config();
}

void CEditorApp::init_editor_table() {
  for (auto& e : entries_)
    if (e) release_editor(e.get());
  editor_count_ = 0;
  editor_capacity_ = kEditorCapacity;
}

EditorEntry* CEditorApp::entry(int slot) const {
  return slot >= 0 && slot < kEditorCapacity ? entries_[size_t(slot)].get() : nullptr;
}

int CEditorApp::check_editor_limit() {
  if (editor_count_ < editor_capacity_) return 0;
  exclamation("Maximum number of editors: " + std::to_string(editor_capacity_));
  return 1;
}

int CEditorApp::open_input_file(const std::string& path, int x, int y, int no_segment_check) {
  if (check_editor_limit()) return 0;
  if (!readable_file(path)) {
    exclamation("<" + path + ">: cannot open to read\n");
    return 0;
  }
  // A file whose streams change within it goes to the MBS Scan first
  // (until that window exists, it opens as one movie).
  if (!no_segment_check && !ends_with_ignoring_case(path, ".mbs") && mbs_scans_.has_factory() &&
      probe_.segment_changes && probe_.segment_changes(path) > 0) {
    open_mbs_scan(path);
    return 0;
  }
  if (!ends_with(path, ".qme") && probe_.video_streams && probe_.video_streams(path) == 0) {
    send_to_audio_player(path);
    return 0;
  }
  std::unique_ptr<IEditor> editor = factory_ ? factory_(path, editor_settings().image_size) : nullptr;
  if (!editor) {
    // Say why nothing opened rather than nothing at all.
    exclamation("<" + path + ">: not a valid input file\n");
    return 0;
  }
  // A project keeps its own name; a movie in a folder named "x.qme/" is
  // no project.
  if (ends_with(path, ".qme")) editor->set_file_name(path);
  editor = fit_editor_to_screen(std::move(editor));
  const EditorSettings& s = editor_settings();
  if (s.field_mode) editor->set_field_dither(1);
  if (const int depth = display_bmp_depth(s)) editor->set_bmp_depth(depth);
  return open_editor_window(std::move(editor), path, x, y);
}

bool CEditorApp::open_clipboard_clip(const EClip& clip) {
  if (check_editor_limit()) return true;  // said so; the clip is not at fault
  std::unique_ptr<IEditor> editor = clip_factory_ ? clip_factory_(clip, editor_settings().image_size) : nullptr;
  if (!editor) return false;
  editor = fit_editor_to_screen(std::move(editor));
  const EditorSettings& s = editor_settings();
  if (s.field_mode) editor->set_field_dither(1);
  if (const int depth = display_bmp_depth(s)) editor->set_bmp_depth(depth);
  if (clip.header[1] > 0) editor->search(clip.header[1], 1);
  if (!clip.name.empty()) editor->set_file_name(clip.name);
  open_editor_window(std::move(editor), clip.file_name, 0, 0);
  return true;
}

bool CEditorApp::on_clip_list_event(const EClip& clip) {
  if (check_editor_limit()) return false;
  std::unique_ptr<IEditor> editor = clip_factory_ ? clip_factory_(clip, editor_settings().image_size) : nullptr;
  if (!editor) return false;
  if (!clip.name.empty()) editor->set_file_name(clip.name);
  editor = fit_editor_to_screen(std::move(editor));
  const EditorSettings& s = editor_settings();
  if (s.field_mode) editor->set_field_dither(1);
  if (const int depth = display_bmp_depth(s)) editor->set_bmp_depth(depth);
  static int list_counter = 1;
  const std::string title = "Clip List #" + std::to_string(list_counter++);
  editor->search(std::max(clip.header[1], 0), 1);
  return open_editor_window(std::move(editor), title, 0, 0) == 1;
}

std::unique_ptr<IEditor> CEditorApp::fit_editor_to_screen(std::unique_ptr<IEditor> editor) {
  const int step = editor_settings().image_size;
  if (!editor || step >= 2 || step < 0) return editor;
  int w = editor->get_image_width(), h = editor->get_image_height();
  VideoInfo longest;
  if (step > 0 && editor->get_longest_video_info(&longest) >= 0) {
    w = longest.width;
    h = longest.height;
  }
  int cw = 0, ch = 0;
  const bool known = host_ && host_->client_size(&cw, &ch);
  const bool fits = !known || (cw >= 8 * w / 7 && ch >= 8 * h / 7);
  if (w < 1920 && h < 1080 && fits) return editor;
  const int next = (w >= 1920 || h >= 1080) ? 2 : step + 1;
  const int divisor = 2 * next;
  if (w / divisor < 321 && h / divisor < 241) return editor;
  if (!clip_factory_) return editor;
  std::unique_ptr<EClip> all = editor->copy(0, editor->get_total_time());
  if (!all) return editor;
  std::unique_ptr<IEditor> smaller = clip_factory_(*all, next);
  if (!smaller) return editor;
  const std::string name = editor->get_file_name();
  if (!name.empty()) smaller->set_file_name(name);
  return smaller;
}

int CEditorApp::open_editor_window(std::unique_ptr<IEditor> editor, const std::string& title, int x, int y) {
  if (!editor) return 0;
  int slot = -1;
  for (int i = 0; i < kEditorCapacity && slot < 0; ++i)
    if (!entries_[size_t(i)]) slot = i;
  if (slot < 0 || editor_count_ >= editor_capacity_) return 0;
  auto entry = std::make_unique<EditorEntry>();
  entry->editor = std::move(editor);
  entry->app = this;
  entry->title = title;
  entry->slot = slot;
  int start = 0, count = 0;
  entry->trim_window = !entry->editor->get_trim_range(&start, &count).empty();
  IEditor* e = entry->editor.get();
  entry->file_use_token = platform().file_use->add_inputs([e] { return e->source_files(); });
  EditorEntry* raw = entry.get();
  entries_[size_t(slot)] = std::move(entry);
  ++editor_count_;
  if (x == 0 && y == 0) {
    x = cascade_x_;
    y = cascade_y_;
  }
  if (!host_ || !host_->create_editor_window(raw, x, y)) {
    release_editor(raw);
    return 0;
  }
  advance_cascade();
  return 1;
}

void CEditorApp::advance_cascade() {
  cascade_x_ += 25;
  cascade_y_ += 25;
  if (cascade_x_ >= 300) cascade_x_ = kCascadeStartX;
  if (cascade_y_ >= 100) cascade_y_ = kCascadeStartY;
}

void CEditorApp::release_editor(EditorEntry* entry) {
  if (!entry || entry->slot < 0 || entry->slot >= kEditorCapacity || entries_[size_t(entry->slot)].get() != entry)
    return;
  // Holds the entry until its editor is gone: the window's last event may
  // come from inside the entry.
  std::unique_ptr<EditorEntry> gone = std::move(entries_[size_t(entry->slot)]);
  platform().file_use->release(gone->file_use_token);
  gone->editor.reset();
  if (editor_count_ > 0) --editor_count_;
}

void CEditorApp::editor_callback(EditorEntry* entry) {
  if (!entry) return;
  switch (entry->kind) {
    case EditorEntry::kClosing:
      release_editor(entry);
      break;
    case EditorEntry::kCopy:
      if (copy_handler_) copy_handler_(entry);
      break;
    case EditorEntry::kImport:
      platform().prompter->message(PromptIcon::None, PromptButtons::Ok, "editor_callback (): IMPORT");
      break;
    case EditorEntry::kFileWritten: {
      if (entry->file_name.empty()) break;
      int x = 0, y = 0;
      // The new window opens beside the one that wrote the file.
      if (host_ && host_->editor_window_position(entry, &x, &y)) {
        x += 24;
        y += 18;
      } else {
        x = y = 0;
      }
      const std::string file = entry->file_name;
      open_input_file(file, x, y, 0);
      break;
    }
    default:
      platform().prompter->message(PromptIcon::None, PromptButtons::Ok, "editor_callback (): Unknow");
      break;
  }
}

void CEditorApp::on_open_movie() {
  if (check_editor_limit()) return;
  EditorSettings& s = editor_settings();
  std::string path;
  if (!file_dialog(&path, 0, 0, nullptr, nullptr, s.open_folder, "Open MPEG Movie")) return;
  s.set_open_folder(path);
  open_input_file(path, 0, 0, 0);
}

int CEditorApp::check_input_file(const std::string& path) {
  if (!readable_file(path)) {
    exclamation("<" + path + ">: cannot open to read\n");
    return 0;
  }
  bool ok = false;
  if (path.find(".qme") != std::string::npos)
    ok = factory_ && factory_(path, 2) != nullptr;
  else
    ok = probe_.stream_type && probe_.stream_type(path) != 0;
  if (!ok) exclamation("<" + path + ">: not a valid input file\n");
  return ok ? 1 : 0;
}

void CEditorApp::open_dropped_files(const std::vector<std::string>& paths) {
  for (const std::string& p : paths)
    if (!p.empty() && check_input_file(p)) open_input_file(p, 0, 0, 0);
}

void CEditorApp::main_frame_file_callback(const std::vector<std::string>& files) {
  if (files.empty()) {
    confirm_close();
    return;
  }
  bool queued = false;
  for (const std::string& f : files) {
    if (f.empty()) continue;
    const int type = probe_.stream_type ? probe_.stream_type(f) : 0;
    if (type == 0) continue;
    if (type == 1) {
      send_to_audio_player(f);
      break;
    }
    if (static_cast<int>(open_queue_.size()) >= kOpenQueueCapacity) continue;
    open_queue_.push_back(f);
    queued = true;
  }
  if (queued) start_open_timer();
}

bool CEditorApp::start_open_timer() {
  if (open_timer_running_ || open_queue_.empty() || !timer_starter_) return false;
  open_timer_running_ = true;
  timer_starter_(500, [this] { on_open_timer(); });
  return true;
}

void CEditorApp::on_open_timer() {
  open_timer_running_ = false;
  std::vector<std::string> files;
  files.swap(open_queue_);
  for (const std::string& f : files) open_input_file(f, 0, 0, 0);
}

void CEditorApp::place_clip_drop(int x, int y, int bar_height, int client_width, int client_height) {
  cascade_x_ = std::min(std::max(x - 50, 0), client_width - 50);
  cascade_y_ = std::min(std::max(y - bar_height, 0), client_height - bar_height - 50);
  // A client area smaller than the margins still keeps the window on it.
  cascade_x_ = std::max(cascade_x_, 0);
  cascade_y_ = std::max(cascade_y_, 0);
}

void CEditorApp::open_mbs_scan(const std::string& path) { mbs_scans_.open(path); }

void CEditorApp::on_mbs_scan_event(const std::string& path) {
  if (!path.empty()) open_input_file(path, 0, 0, 1);
}

void CEditorApp::send_to_audio_player(const std::string& path) {
  if (audio_player_)
    audio_player_(path);
  else
    exclamation("<" + path + ">: not a valid input file\n");
}

bool CEditorApp::confirm_close() {
  bool refused = false;
  if (editor_count_ > 0 && host_ && host_->stop_playback_and_find_jobs()) {
    exclamation(kSaveJobRunningMessage);
    refused = true;
  }
  if (!refused) {
    std::vector<ToolWindow*> busy = tools_.busy_windows();
    for (ToolWindow* w : mbs_scans_.windows())
      if (w->is_busy()) busy.push_back(w);
    if (!busy.empty()) {
      const PromptAnswer a =
          platform().prompter->message(PromptIcon::Question, PromptButtons::YesNo, kStopToolJobsQuestion);
      if (a == PromptAnswer::Yes) {
        // Stopped and joined before any window goes: nothing writes after exit.
        for (ToolWindow* w : busy) w->stop_job();
        tools_.close_all();
        mbs_scans_.close_all();
      } else {
        refused = true;
      }
    }
  }
  if (clipboard_writer_) clipboard_writer_();
  return !refused;
}

void CEditorApp::UpdateVolumeSlider() {
  if (volume_display_) volume_display_(audio_volume.load());
}

void CEditorApp::add_commands() {
  commands_.add(cmd::kOpenMovie, [this] { on_open_movie(); });
  commands_.add(
      cmd::kMbsScan, [this] { open_mbs_scan(std::string()); }, [this] { return CommandState{mbs_scans_.enabled(), false}; });
  commands_.add(cmd::kResetOptions, [] { editor_settings().set_defaults(); });
  for (int id : {cmd::kMultiplexer, cmd::kDemultiplexer, cmd::kStreamConvertor, cmd::kBatchSave,
                 cmd::kVideoClipList, cmd::kGopFixer, cmd::kAudioPlayer})
    commands_.add(
        id, [this, id] { tools_.run(id); }, [this, id] { return CommandState{tools_.enabled(id), false}; });
}
