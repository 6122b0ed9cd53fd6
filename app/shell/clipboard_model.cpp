#include "app/shell/clipboard_model.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "app/shell/editor_app.h"
#include "app/shell/kept_file.h"
#include "app/shell/text_lines.h"
#include "engine/clips/cliplist_file.h"
#include "engine/clips/text_fields.h"
#include "foundation/timecode.h"
#include "picture/bmp.h"
#include "platform/services.h"

namespace {

constexpr int kThumbBytes = kThumbSize * kThumbSize * 3;

// For each of dst cells, the source cells it covers and how much of each.
std::vector<std::vector<std::pair<int, double>>> area_weights(int src, int dst) {
  std::vector<std::vector<std::pair<int, double>>> out(static_cast<size_t>(dst));
  const double scale = double(src) / dst;
  for (int o = 0; o < dst; ++o) {
    const double a = o * scale, b = (o + 1) * scale;
    for (int s = int(a); s < src && s < b; ++s) {
      const double w = std::min<double>(s + 1, b) - std::max<double>(s, a);
      if (w > 1e-9) out[size_t(o)].emplace_back(s, w / scale);
    }
  }
  return out;
}

uint32_t fnv1a(const std::string& bytes) {
  uint32_t h = 2166136261u;
  for (unsigned char c : bytes) h = (h ^ c) * 16777619u;
  return h;
}

// The strip's checksum: FNV-1a over 8-byte words in four interleaved
// lanes, folded to 32 bits; a byte at a time the start would cost as much
// as reading the list.
uint32_t strip_sum_of(const std::string& bytes) {
  constexpr uint64_t kPrime = 1099511628211ull;
  uint64_t lane[4] = {14695981039346656037ull, 1, 2, 3};
  size_t i = 0;
  for (; i + 32 <= bytes.size(); i += 32)
    for (int k = 0; k < 4; ++k) {
      uint64_t w;
      std::memcpy(&w, bytes.data() + i + 8 * k, 8);
      lane[k] = (lane[k] ^ w) * kPrime;
    }
  uint64_t h = lane[0];
  for (int k = 1; k < 4; ++k) h = (h ^ lane[k]) * kPrime;
  for (; i < bytes.size(); ++i) h = (h ^ static_cast<unsigned char>(bytes[i])) * kPrime;
  return uint32_t(h ^ (h >> 32));
}

void put16(std::string* s, uint32_t v) {
  s->push_back(char(v & 0xFF));
  s->push_back(char((v >> 8) & 0xFF));
}
void put32(std::string* s, uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}
uint32_t get16(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8;
}
uint32_t get32(const std::string& s, size_t at) { return get16(s, at) | get16(s, at + 2) << 16; }

bool starts(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The text in lines, each with its "\n" ("\r\n" read as "\n").
std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines = text_lines(text);
  for (std::string& line : lines) line += "\n";
  return lines;
}

std::string block_of(const EClip& clip) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* f = open_memstream(&buf, &len);
  if (!f) return {};
  clip.write_clip_list(f);
  std::fclose(f);
  std::string out(buf, len);
  std::free(buf);
  return out;
}

// Reads one clip list from text; false when none could be read.
bool parse_block(const std::string& block, EClip* clip) {
  if (block.empty()) return false;
  FILE* f = fmemopen(const_cast<char*>(block.data()), block.size(), "r");
  if (!f) return false;
  const bool ok = clip->ctor(f, 0) == 0;
  std::fclose(f);
  return ok;
}

// The line every written clip list begins with.
const std::string& list_id_line() {
  static const std::string id = [] {
    char* buf = nullptr;
    size_t len = 0;
    FILE* f = open_memstream(&buf, &len);
    if (!f) return std::string();
    write_cliplist_id(f);
    std::fclose(f);
    std::string out(buf, len);
    std::free(buf);
    return out;
  }();
  return id;
}

// The opening lines of the next list (its head line and a "#") are no
// part of this one.
void drop_next_list_head(std::string* block) {
  for (const std::string& tail : {list_id_line() + "#\n", list_id_line()})
    if (block->size() >= tail.size() && block->compare(block->size() - tail.size(), tail.size(), tail) == 0) {
      block->erase(block->size() - tail.size());
      return;
    }
}

int clip_lines(const std::string& block) {
  int n = 0;
  for (const std::string& line : split_lines(block))
    if (starts(line, "CLIP:")) ++n;
  return n;
}

}  // namespace

Thumbnail placeholder_thumbnail() { return Thumbnail{std::vector<uint8_t>(kThumbBytes, 0x80)}; }

Thumbnail thumbnail_of_editor(IEditor& editor) {
  const BitmapInfo* info = editor.get_decoded_image_dib_header();
  const uint8_t* data = editor.get_decoded_image_dib_data();
  if (!info || !data) return {};
  const int bits = info->header.biBitCount;
  const int w = info->header.biWidth, h = std::abs(info->header.biHeight);
  if ((bits != 24 && bits != 16) || w <= 0 || h <= 0) return {};
  const bool bottom_up = info->header.biHeight > 0;
  const int stride = bmp_get_bytes_per_line(bits, w);
  const auto wx = area_weights(w, kThumbSize), wy = area_weights(h, kThumbSize);
  Thumbnail out{std::vector<uint8_t>(kThumbBytes)};
  auto pixel = [&](int x, int y, double rgb[3]) {
    const uint8_t* row = data + size_t(bottom_up ? h - 1 - y : y) * size_t(stride);
    if (bits == 24) {
      rgb[0] = row[x * 3 + 2];
      rgb[1] = row[x * 3 + 1];
      rgb[2] = row[x * 3];
    } else {
      const unsigned v = row[x * 2] | unsigned(row[x * 2 + 1]) << 8;
      const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
      rgb[0] = (r << 3) | (r >> 2);
      rgb[1] = (g << 3) | (g >> 2);
      rgb[2] = (b << 3) | (b >> 2);
    }
  };
  for (int oy = 0; oy < kThumbSize; ++oy)
    for (int ox = 0; ox < kThumbSize; ++ox) {
      double sum[3] = {0, 0, 0};
      for (const auto& [sy, fy] : wy[size_t(oy)])
        for (const auto& [sx, fx] : wx[size_t(ox)]) {
          double p[3];
          pixel(sx, sy, p);
          for (int c = 0; c < 3; ++c) sum[c] += p[c] * fx * fy;
        }
      for (int c = 0; c < 3; ++c)
        out.rgb[size_t((oy * kThumbSize + ox) * 3 + c)] = uint8_t(std::clamp(std::lround(sum[c]), 0L, 255L));
    }
  return out;
}

int clip_thumbnail_frame(const EClip& clip) { return clip.header[1]; }
void set_clip_thumbnail_frame(EClip* clip, int frame) { clip->header[1] = frame; }

std::string length_text(uint32_t packed) {
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u:%02u", (packed >> 27) & 31, (packed >> 20) & 63,
                (packed >> 13) & 63, (packed >> 6) & 63);
  return text;
}

uint32_t packed_length(int frames, double rate) {
  SMPTE_TimeCode tc;
  if (rate >= 1) tc.set_frame_rate(rate);
  if (std::fabs(rate - 30000.0 / 1001) < 0.01) tc.init(1);
  tc.smpte_4_gop(frames);
  return tc.get_word();
}

std::string size_text(int64_t bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%10.6f", double(bytes) * 0.000001);
  return text;
}

// ClipList

ClipNode* ClipList::append(ClipNode node) {
  nodes_.push_back(std::make_unique<ClipNode>(std::move(node)));
  return nodes_.back().get();
}

ClipNode* ClipList::get(int index) {
  return index >= 0 && index < count() ? nodes_[size_t(index)].get() : nullptr;
}

const ClipNode* ClipList::get(int index) const {
  return index >= 0 && index < count() ? nodes_[size_t(index)].get() : nullptr;
}

int ClipList::index_of(int id) const {
  for (size_t i = 0; i < nodes_.size(); ++i)
    if (nodes_[i]->id == id) return int(i);
  return -1;
}

bool ClipList::remove(int index) {
  if (!get(index)) return false;
  undo_stack_.push_back(std::move(*nodes_[size_t(index)]));
  nodes_.erase(nodes_.begin() + index);
  return true;
}

ClipNode ClipList::pop_undo() {
  ClipNode node = std::move(undo_stack_.back());
  undo_stack_.pop_back();
  return node;
}

void ClipList::clear() {
  nodes_.clear();
  undo_stack_.clear();
}

// Thumbnail jobs

DrawnThumbnail draw_clip_thumbnail(const EClip& clip, const EditorClipFactory& factory) {
  DrawnThumbnail out;
  std::unique_ptr<IEditor> editor = factory ? factory(clip, 1) : nullptr;
  if (!editor) return out;
  // Half size: quarter-size pictures lose too much detail to be known
  // again at 48 x 48. Never the dithered 8-bit display picture.
  editor->set_bmp_depth(24);
  editor->search(std::max(clip_thumbnail_frame(clip), 0), 1);
  out.picture = thumbnail_of_editor(*editor);
  EClip copy = clip;
  const int frames = copy.get_total_frames();
  out.length = packed_length(frames, editor->get_frame_rate());
  out.size = int64_t(editor->get_minimum_output_bit_rate(2)) * frames;
  return out;
}

struct VideoClipboard::Worker {
  explicit Worker(EditorClipFactory f) : factory(std::move(f)), thread([this] { run(); }) {}
  ~Worker() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    wake.notify_all();
    thread.join();
  }
  void add(EClip clip, std::function<void(DrawnThumbnail)> done) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      jobs.emplace_back(std::move(clip), std::move(done));
    }
    wake.notify_one();
  }
  void run() {
    for (;;) {
      std::pair<EClip, std::function<void(DrawnThumbnail)>> job;
      {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [this] { return stop || !jobs.empty(); });
        if (stop) return;
        job = std::move(jobs.front());
        jobs.pop_front();
      }
      DrawnThumbnail drawn = draw_clip_thumbnail(job.first, factory);
      platform().post->post([done = std::move(job.second), drawn = std::move(drawn)] { done(drawn); });
    }
  }
  EditorClipFactory factory;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::pair<EClip, std::function<void(DrawnThumbnail)>>> jobs;
  bool stop = false;
  std::thread thread;
};

// VideoClipboard

VideoClipboard::VideoClipboard(EditorClipFactory factory) : factory_(std::move(factory)) {}

VideoClipboard::~VideoClipboard() { worker_.reset(); }

void VideoClipboard::notify(Change change, int row) {
  if (observer_) observer_(change, row);
}

int VideoClipboard::push_row(ClipNode node) {
  static int next_id = 0;
  node.id = ++next_id;
  if (node.thumbnail.empty()) node.thumbnail = placeholder_thumbnail();
  const bool draw = !node.drawn && node.readable;
  const int id = clips_.append(std::move(node))->id;
  const int row = count() - 1;
  notify(Change::Inserted, row);
  if (draw) draw_later(id);
  return row;
}

void VideoClipboard::draw_later(int id) {
  const ClipNode* node = clips_.get(clips_.index_of(id));
  if (!node) return;
  ++pending_;
  std::weak_ptr<int> alive = alive_;
  auto done = [this, alive, id](DrawnThumbnail drawn) {
    if (!alive.lock()) return;
    --pending_;
    const int row = clips_.index_of(id);
    ClipNode* n = clips_.get(row);
    if (!n) return;  // deleted meanwhile
    if (drawn.picture.empty()) {
      n->readable = false;
    } else {
      n->thumbnail = std::move(drawn.picture);
      n->drawn = true;
      n->length = drawn.length;
      n->size = drawn.size;
      n->clip.header[2] = int32_t(drawn.length);
      n->clip.header[0] = int32_t(std::min<int64_t>(drawn.size, INT_MAX));
    }
    notify(Change::Changed, row);
  };
  if (scheduler_) {
    scheduler_(node->clip, std::move(done));
    return;
  }
  if (!worker_) worker_ = std::make_unique<Worker>(factory_);
  worker_->add(node->clip, std::move(done));
}

int VideoClipboard::add_clip(const EClip& clip, IEditor* editor) {
  ClipNode node;
  node.clip = clip;
  if (node.clip.file_name.empty()) node.clip.file_name = node.clip.name.empty() ? "clip" : node.clip.name;
  node.text = node.clip.file_name;
  if (editor) {
    node.thumbnail = thumbnail_of_editor(*editor);
    node.drawn = !node.thumbnail.empty();
    const int frames = node.clip.get_total_frames();
    node.length = packed_length(frames, editor->get_frame_rate());
    node.size = int64_t(editor->get_minimum_output_bit_rate(2)) * frames;
    node.clip.header[2] = int32_t(node.length);
    node.clip.header[0] = int32_t(std::min<int64_t>(node.size, INT_MAX));
  }
  const int row = push_row(std::move(node));
  select(row);
  return row;
}

void VideoClipboard::select(int row) {
  selected_ = clips_.get(row) ? row : -1;
  notify(Change::Selected, selected_);
}

void VideoClipboard::set_row_text(int row, const std::string& text) {
  if (ClipNode* n = clips_.get(row)) {
    n->text = text;
    notify(Change::Changed, row);
  }
}

void VideoClipboard::delete_selected() {
  const int index = selected_;
  if (!clips_.remove(index)) return;
  notify(Change::Removed, index);
  select(index < count() ? index : 0);
}

bool VideoClipboard::remove_node(int id) {
  const int index = clips_.index_of(id);
  if (index < 0) return false;
  const bool was_selected = index == selected_;
  clips_.remove(index);
  notify(Change::Removed, index);
  if (was_selected)
    select(index < count() ? index : 0);
  else if (selected_ > index)
    select(selected_ - 1);
  return true;
}

void VideoClipboard::undo_delete() {
  if (!clips_.has_undo()) return;
  // The node keeps its picture: it comes back as the last row.
  ClipNode node = clips_.pop_undo();
  clips_.append(std::move(node));
  const int row = count() - 1;
  notify(Change::Inserted, row);
  select(row);
}

void VideoClipboard::delete_all() {
  if (count() == 0 && !clips_.has_undo()) return;
  clips_.clear();
  selected_ = -1;
  notify(Change::Reset, -1);
}

int VideoClipboard::write_project_list(const std::string& path, const std::string& thumbnail_path,
                                       std::string* error) {
  std::string strip_note;
  if (!thumbnail_path.empty()) {
    std::vector<const Thumbnail*> pictures;
    for (int i = 0; i < count(); ++i) pictures.push_back(&clips_.get(i)->thumbnail);
    const std::string strip = encode_thumbnail_strip(pictures);
    // The list names its strip's checksum: a strip left from another list
    // is never paired with it.
    char note[64];
    std::snprintf(note, sizeof note, "# thumbnails %08x\n", strip_sum_of(strip));
    strip_note = note;
    if (!write_kept_file(thumbnail_path, strip, error)) {
      strip_note.clear();
    }
  }
  std::string text = "#\n";
  text += strip_note.empty() ? "# clips of the Video Clipboard\n" : strip_note;
  text += "#\n# MPEG-Tamsel Project List\n#\n";
  char when[128];
  const std::time_t now = std::time(nullptr);
  std::strftime(when, sizeof when, "%c", std::localtime(&now));
  text += std::string("# Created: ") + when + "\n#\n";
  for (int i = 0; i < count(); ++i) {
    const ClipNode* n = clips_.get(i);
    // A clip kept as read goes back as it came, under the list's head line.
    text += n->readable || n->block.empty() ? block_of(n->clip) : list_id_line() + "#\n" + n->block;
  }
  text += "#\n# total: " + std::to_string(count()) + " clips\n#\n";
  std::string list_error;
  if (!write_kept_file(path, text, &list_error)) {
    if (error) *error = list_error;
    return 0;
  }
  return count();
}

int VideoClipboard::read_project_list(const std::string& path, const std::string& thumbnail_path) {
  std::string text;
  if (!read_kept_file(path, &text)) return 0;
  const std::vector<std::string> lines = split_lines(text);
  std::vector<std::string> blocks;
  uint32_t strip_sum = 0;
  bool has_sum = false;
  int plain_clips = 0;
  for (const std::string& line : lines) {
    unsigned sum = 0;
    if (blocks.empty() && std::sscanf(line.c_str(), "# thumbnails %8x", &sum) == 1) {
      strip_sum = sum;
      has_sum = true;
    }
    if (starts(line, "CLIPLIST:"))
      blocks.push_back(line);
    else if (!blocks.empty())
      blocks.back() += line;
    if (starts(line, "CLIP:")) ++plain_clips;
  }
  // An editor project without list lines is one clip list.
  if (blocks.empty() && plain_clips > 0) blocks.push_back(text);
  if (blocks.empty()) return 0;
  for (size_t i = 0; i + 1 < blocks.size(); ++i) drop_next_list_head(&blocks[i]);
  // The list's closing comment is no part of its last clip.
  if (const size_t end = blocks.back().rfind("#\n# total: "); end != std::string::npos) blocks.back().erase(end);

  std::vector<Thumbnail> stored;
  if (!thumbnail_path.empty()) {
    std::string bytes;
    // Lists written before the word-wise sum name the byte-wise one.
    if (read_kept_file(thumbnail_path, &bytes) &&
        (!has_sum || strip_sum_of(bytes) == strip_sum || fnv1a(bytes) == strip_sum))
      stored = decode_thumbnail_strip(bytes);
  }
  delete_all();
  for (size_t i = 0; i < blocks.size(); ++i) {
    ClipNode node;
    const std::string& block = blocks[i];
    node.block = block;
    node.readable = parse_block(block, &node.clip) && int(node.clip.clips.size()) >= clip_lines(block);
    // The list line's name and numbers, also for a clip that cannot be read.
    const std::vector<std::string> own = split_lines(block);
    if (starts(own[0], "CLIPLIST:")) {
      node.clip.file_name = utils_strip_spaces(own[0].substr(std::min<size_t>(10, own[0].size())));
      int v[3] = {0, 0, 0};
      if (own.size() > 1) std::sscanf(own[1].c_str(), " %d %d %d", &v[0], &v[1], &v[2]);
      node.clip.header[1] = v[0];
      node.clip.header[2] = v[1];
      node.clip.header[0] = v[2];
      node.length = uint32_t(v[1]);
      node.size = v[2];
    }
    if (node.clip.file_name.empty()) node.clip.file_name = path;
    node.text = node.clip.file_name;
    if (i < stored.size()) {
      node.thumbnail = std::move(stored[i]);
      node.drawn = true;
    }
    if (node.readable) node.block.clear();
    push_row(std::move(node));
  }
  if (count() > 0) select(0);
  return count();
}

int copy_to_clipboard(EditorEntry* entry, VideoClipboard* board) {
  if (!entry || !entry->editor || !board) return -1;
  IEditor& e = *entry->editor;
  std::unique_ptr<EClip> clip = e.frame_copy(entry->start_frame, entry->frame_count);
  if (!clip) return -1;
  static int clip_counter = 0;
  const std::string name = e.get_file_name();
  if (!name.empty()) clip->name = name;
  clip->file_name = "#" + std::to_string(++clip_counter) + " clip";
  const int was = e.get_curr_frame_offset();
  int thumb = was - entry->start_frame;
  int moved_to = -1;
  if (thumb < 0) {
    thumb = 0;
    moved_to = entry->start_frame;
  } else if (thumb >= entry->frame_count) {
    thumb = entry->frame_count - 1;
    moved_to = entry->start_frame + entry->frame_count - 1;
  }
  if (moved_to >= 0) e.search(moved_to, 1);
  set_clip_thumbnail_frame(clip.get(), thumb);
  const int row = board->add_clip(*clip, &e);
  if (moved_to >= 0) e.search(was, 1);
  return row;
}

// The strip file

std::string encode_thumbnail_strip(const std::vector<const Thumbnail*>& pictures) {
  const int rows = kThumbSize * int(pictures.size());
  const int stride = kThumbSize * 3;
  std::string out;
  out.reserve(54 + size_t(rows) * stride);
  out += "BM";
  put32(&out, uint32_t(54 + rows * stride));
  put32(&out, 0);
  put32(&out, 54);
  put32(&out, 40);
  put32(&out, kThumbSize);
  put32(&out, uint32_t(rows));  // bottom-up
  put16(&out, 1);
  put16(&out, 24);
  put32(&out, 0);
  put32(&out, uint32_t(rows * stride));
  put32(&out, 2835);
  put32(&out, 2835);
  put32(&out, 0);
  put32(&out, 0);
  for (int r = rows - 1; r >= 0; --r) {
    const Thumbnail* t = pictures[size_t(r / kThumbSize)];
    const Thumbnail fallback = t->empty() ? placeholder_thumbnail() : Thumbnail{};
    const uint8_t* line = (t->empty() ? fallback : *t).rgb.data() + (r % kThumbSize) * stride;
    for (int x = 0; x < kThumbSize; ++x) {
      out.push_back(char(line[x * 3 + 2]));
      out.push_back(char(line[x * 3 + 1]));
      out.push_back(char(line[x * 3]));
    }
  }
  return out;
}

std::vector<Thumbnail> decode_thumbnail_strip(const std::string& bytes) {
  if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return {};
  const uint32_t offset = get32(bytes, 10), header = get32(bytes, 14);
  const int32_t width = int32_t(get32(bytes, 18)), height = int32_t(get32(bytes, 22));
  if (header < 40 || width != kThumbSize || get16(bytes, 28) != 24 || get32(bytes, 30) != 0) return {};
  if (height == 0 || height == INT32_MIN || std::abs(height) % kThumbSize != 0) return {};
  const int rows = std::abs(height), stride = kThumbSize * 3;
  if (offset < 54 || offset > bytes.size() || (bytes.size() - offset) / size_t(stride) < size_t(rows)) return {};
  std::vector<Thumbnail> out(size_t(rows / kThumbSize), Thumbnail{std::vector<uint8_t>(kThumbBytes)});
  for (int r = 0; r < rows; ++r) {
    const int top = height > 0 ? rows - 1 - r : r;  // image row of file row r
    const char* src = bytes.data() + offset + size_t(r) * stride;
    uint8_t* dst = out[size_t(top / kThumbSize)].rgb.data() + (top % kThumbSize) * stride;
    for (int x = 0; x < kThumbSize; ++x) {
      dst[x * 3] = uint8_t(src[x * 3 + 2]);
      dst[x * 3 + 1] = uint8_t(src[x * 3 + 1]);
      dst[x * 3 + 2] = uint8_t(src[x * 3]);
    }
  }
  return out;
}
