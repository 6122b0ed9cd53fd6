// The Video Clipboard's rows: each node holds its clip, its 48 x 48
// thumbnail, its length and size texts and the clip-list block it is
// written as, so row, clip and picture can never fall out of step. Clips
// it cannot show keep their row (grey picture) and their block as read.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/shell/ieditor.h"
#include "engine/clips/project.h"

inline constexpr int kThumbSize = 48;

// A 48 x 48 picture, top-down rows of RGB bytes.
struct Thumbnail {
  std::vector<uint8_t> rgb;
  bool empty() const { return rgb.empty(); }
};
// The grey picture of a clip not drawn (yet, or at all).
Thumbnail placeholder_thumbnail();
// The current frame of an editor's 16- or 24-bit display bitmap, area
// averaged to 48 x 48; empty for another depth or no picture.
Thumbnail thumbnail_of_editor(IEditor& editor);

// The clip-list header's three numbers as the clipboard uses them.
int clip_thumbnail_frame(const EClip& clip);
void set_clip_thumbnail_frame(EClip* clip, int frame);

// "hh:mm:ss:ff" of a packed time code, and the code of a frame count at a
// rate (drop-frame counting at 29.97).
std::string length_text(uint32_t packed);
uint32_t packed_length(int frames, double rate);
std::string size_text(int64_t bytes);

struct ClipNode {
  int id = 0;  // unique within the process, never reused
  EClip clip;
  std::string text;  // the row's label
  uint32_t length = 0;
  int64_t size = 0;
  Thumbnail thumbnail;
  bool drawn = false;      // thumbnail is the clip's picture
  bool readable = true;    // false: the clip's files could not be read
  std::string block;       // the clip-list block the row is written as
};

// Nodes in row order and the stack of removed ones.
class ClipList {
 public:
  int count() const { return int(nodes_.size()); }
  ClipNode* append(ClipNode node);
  ClipNode* get(int index);
  const ClipNode* get(int index) const;
  int index_of(int id) const;
  // Moves the node onto the undo stack.
  bool remove(int index);
  bool has_undo() const { return !undo_stack_.empty(); }
  ClipNode pop_undo();
  void clear();

 private:
  std::vector<std::unique_ptr<ClipNode>> nodes_;
  std::vector<ClipNode> undo_stack_;
};

// What a thumbnail job gives back.
struct DrawnThumbnail {
  Thumbnail picture;  // empty: no editor could be made
  uint32_t length = 0;
  int64_t size = 0;
};
// Builds an editor of the clip at half size, moves it to the clip's
// thumbnail frame and takes its picture, length and size.
DrawnThumbnail draw_clip_thumbnail(const EClip& clip, const EditorClipFactory& factory);

class VideoClipboard {
 public:
  enum class Change { Reset, Inserted, Removed, Changed, Selected };
  // Runs a thumbnail job; done is then called on the user-interface thread.
  using Scheduler = std::function<void(EClip clip, std::function<void(DrawnThumbnail)> done)>;

  explicit VideoClipboard(EditorClipFactory factory);
  ~VideoClipboard();
  VideoClipboard(const VideoClipboard&) = delete;
  VideoClipboard& operator=(const VideoClipboard&) = delete;

  // Thumbnails are drawn by a worker thread unless a test runs them.
  void set_scheduler(Scheduler scheduler) { scheduler_ = std::move(scheduler); }
  void set_observer(std::function<void(Change, int row)> observer) { observer_ = std::move(observer); }

  // A row for a clip; with a 16- or 24-bit editor its picture at once,
  // else the placeholder until the worker draws it. The new row's index.
  int add_clip(const EClip& clip, IEditor* editor);
  void delete_selected();
  void undo_delete();
  void delete_all();

  int count() const { return clips_.count(); }
  const ClipNode* row(int index) const { return clips_.get(index); }
  int row_of(int id) const { return clips_.index_of(id); }
  bool has_undo() const { return clips_.has_undo(); }
  int selected() const { return selected_; }
  void select(int row);
  void set_row_text(int row, const std::string& text);
  // Removes (undoably) the row of a node, wherever it stands now.
  bool remove_node(int id);

  // The list file (and the thumbnail strip when a path is given), each
  // written whole through a temporary file; the number of clips, 0 (with
  // *error) when nothing was written.
  int write_project_list(const std::string& path, const std::string& thumbnail_path, std::string* error = nullptr);
  // Replaces the rows by the file's clips; the number of rows, 0 when the
  // file holds no clip list (the rows are then as they were).
  int read_project_list(const std::string& path, const std::string& thumbnail_path);
  // Thumbnails still being drawn.
  int pending() const { return pending_; }

 private:
  void notify(Change change, int row);
  int push_row(ClipNode node);
  void draw_later(int id);
  EditorClipFactory factory_;
  Scheduler scheduler_;
  std::function<void(Change, int)> observer_;
  ClipList clips_;
  int selected_ = -1;
  int pending_ = 0;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  struct Worker;
  std::unique_ptr<Worker> worker_;
};

struct EditorEntry;
// An editor window's copy (frames start_frame..+frame_count of its entry):
// a clip named "#N clip" whose thumbnail is the window's current frame,
// kept inside the range. The new row, or -1 when nothing was copied.
int copy_to_clipboard(EditorEntry* entry, VideoClipboard* board);

// The thumbnail strip: a 24-bit BMP 48 pixels wide, picture i at rows
// 48i..48i+47 from the top. Reading gives nothing for anything else.
std::string encode_thumbnail_strip(const std::vector<const Thumbnail*>& pictures);
std::vector<Thumbnail> decode_thumbnail_strip(const std::string& bytes);
