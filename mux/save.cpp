#include "mux/save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/start_code.h"
#include "foundation/trace.h"
#include "foundation/video_finders.h"
#include "mux/psmux.h"
#include "mux/tsmux.h"

namespace {

constexpr uint8_t kEndCode[4] = {0, 0, 1, 0xB7};

bool has_end_code(const uint8_t* data, int bytes) {
  const int from = bytes > 8 ? bytes - 8 : 0;
  StartCodeCursor c(data + from, bytes - from);
  return c.find(0xB7);
}

// Offset of 00 00 01 code in data, -1 when absent.
int find_code(const uint8_t* data, int bytes, uint8_t code) { return start_code_find(data, bytes, code, 4); }

// Creates an empty file beside name that no other run uses (two saves into
// one output must not remove or overwrite each other's file) and returns
// its name; empty when none could be made. The mode is that of a new file.
std::string create_partial(const std::string& name) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string p = name + ".partial-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return p;
    }
    if (errno != EEXIST) break;
  }
  return {};
}

bool valid_aspect(int code, bool mpeg2) { return mpeg2 ? code >= 1 && code <= 4 : code >= 1 && code <= 14; }

}  // namespace

std::unique_ptr<Save> Save::create(const char* name, int kind, const ESData* es, int n_es, EngineError* error,
                                   int nav_option) {
  auto save = std::make_unique<Save>();
  if (save->init(name, kind, n_es, es, nav_option) == 0) return save;
  engine_error_set(error, EngineError::cannot_write,
                   std::string("the output \"") + (name ? name : "") + "\" cannot be created");
  return nullptr;
}

Save::~Save() {
  if (!closed_ && muxer_) close(0);
}

int Save::init(const char* name, int kind, int n_es, const ESData* es, int nav_option, int pmt_pid) {
  if (!es || n_es < 1 || !name || !*name) return 1;
  kind_ = kind;
  nav_option_ = nav_option;
  if (alloc_headers(name)) return 1;
  return init_muxer(kind, n_es, es, pmt_pid);
}

int Save::alloc_headers(const char* name) {
  name_ = name;
  partial_.clear();  // named when the multiplexer is made
  seq_.reset();
  gop_.reset();
  pic_.reset();
  return 0;
}

int Save::init_muxer(int kind, int n_es, const ESData* es, int pmt_pid) {
  int videos = 0;
  n_audio_ = 0;
  for (int i = 0; i < n_es; ++i) {
    const int id = es[i].stream_id;
    if (id >= 0xE0 && id <= 0xEF) {
      if (videos++ == 0) {
        video_id_ = id;
        height_ = es[i].get_video_height();
      }
    } else if (id >= 0x80 && id <= 0xDF && n_audio_ < 8) {
      audio_kind_[n_audio_] = es[i].kind;
      audio_id_[n_audio_] = id;
      audio_pid_[n_audio_] = es[i].pid;
      ++n_audio_;
    }
  }
  if (videos == 0) {
    trace("Save::init_muxer (ERROR): %d-video currently NOT supported\n", videos);
    return 1;
  }
  partial_ = create_partial(name_);
  if (partial_.empty()) {
    trace("Save::init_muxer (ERROR): cannot create a file beside <%s>: %s\n", name_.c_str(), std::strerror(errno));
    return 1;
  }
  // The program-stream kinds keep their kind for a video-only output too.
  if (kind >= MUX_MPEG1_SYSTEM && kind <= MUX_SVCD) {
    int failed = 1;
    muxer_ = std::make_unique<PSMux>(kind, n_es, es, partial_.c_str(), &failed, nav_option_);
    if (failed) muxer_.reset();
  } else {
    muxer_.reset(muxer_create(kind, n_es, es, partial_.c_str(), pmt_pid, 0));
  }
  if (!muxer_) {
    trace("Save::init_muxer (ERROR): no multiplexer for kind %d\n", kind);
    ::unlink(partial_.c_str());
    return 1;
  }
  if (kind == MUX_VCD && height_ > 0) aspect_ratio_ = height_ == 288 ? 8 : 12;
  if (kind == MUX_TRANSPORT) read_transport_ids();
  for (int& started : audio_started_) started = 0;
  return 0;
}

// A transport output chooses its own ids and PIDs: the writes use those.
void Save::read_transport_ids() {
  int ids[9] = {}, pids[9] = {};
  const int n = muxer_->list_stream_ids(ids, pids, 9);
  // The streams come in the caller's order: the video need not be first (a
  // source whose sound starts well before its pictures lists it first).
  bool video = false;
  n_audio_ = 0;
  for (int i = 0; i < n; ++i) {
    if (!video && ids[i] >= 0xE0 && ids[i] <= 0xEF) {
      video = true;
      video_id_ = ids[i];
      continue;
    }
    if (n_audio_ >= 8) continue;
    audio_id_[n_audio_] = ids[i];
    audio_pid_[n_audio_] = pids[i];
    ++n_audio_;
  }
}

int Save::derived_aspect(const SeqHdr& s) const {
  const int own = s.get_aspect_ratio_information();
  const int lines = s.get_vertical_size();
  if (kind_ == MUX_VCD) return lines == 288 ? 8 : 12;
  if (s.mpeg2) {
    // DVD and SVCD take 4:3 or 16:9 only; other outputs keep any valid code.
    if (aspect_required()) return own == 2 || own == 3 ? own : (lines == 576 ? 3 : 2);
    return valid_aspect(own, true) ? own : (lines == 576 ? 3 : 2);
  }
  if (own == 8 || own == 12) return own;
  if (!aspect_required() && valid_aspect(own, false)) return own;
  return lines == 288 ? 8 : 12;
}

void Save::update_seqhdr(uint8_t* data, int bytes) {
  if (fields_ == 0 && !vbv_ && seq_.decode(data, bytes) > 0) {
    timecode_.set_frame_rate(seq_.get_frame_rate());
    progressive_ = seq_.mpeg2 ? seq_.get_progressive_sequence() : 1;
  }
  int aspect = aspect_ratio_;
  if (aspect == 0) {
    // Each header keeps its own valid code unless the output needs another.
    SeqHdr s;
    if (s.decode(data, bytes) > 0) aspect = derived_aspect(s);
  }
  patch_aspect_ratio(data, bytes, aspect);
  if (vbv_buffer_size_ > 0) patch_vbv_buffer_size(data, bytes);
  if (!vbv_ && seq_.get_horizontal_size() > 0) {
    vbv_ = std::make_unique<VBV>();
    vbv_->init(seq_);
    vbv_->set_drop_frame_flag(drop_frame_);
  }
}

int Save::patch_aspect_ratio(uint8_t* data, int bytes, int code) {
  if (code <= 0 || code > 15) return 0;
  const int o = find_code(data, bytes, 0xB3);
  if (o < 0 || bytes - o < 8) return 0;
  const uint8_t v = uint8_t((code << 4) | (data[o + 7] & 0x0F));
  if (v == data[o + 7]) return 0;
  data[o + 7] = v;
  return 1;
}

int Save::patch_vbv_buffer_size(uint8_t* data, int bytes) {
  const int o = find_code(data, bytes, 0xB3);
  if (o < 0 || bytes - o < 12) return 0;
  uint8_t* b = data + o;
  const int cur = ((b[10] & 0x1F) << 5) | (b[11] >> 3);
  if (cur == vbv_buffer_size_) return 0;
  b[10] = uint8_t((b[10] & 0xE0) | ((vbv_buffer_size_ >> 5) & 0x1F));
  b[11] = uint8_t((b[11] & 0x07) | ((vbv_buffer_size_ & 0x1F) << 3));
  return 1;
}

void Save::update_gop(uint8_t* data, int bytes) {
  const int o = find_code(data, bytes, 0xB8);
  if (o < 0 || bytes - o < 8) return;
  if (fields_ == 0 && gop_.decode(data + o, bytes - o) > 0) timecode_.set_gop_bits(gop_.time_code);
  if (!vbv_) return;
  timecode_.smpte_4_gop((fields_ + 1) / 2);
  const uint32_t w = timecode_.to_gop_bits();
  uint8_t* b = data + o;
  b[4] = uint8_t(w >> 17);
  b[5] = uint8_t(w >> 9);
  b[6] = uint8_t(w >> 1);
  b[7] = uint8_t(((w & 1) << 7) | (b[7] & 0x7F));
}

int Save::update(uint8_t* data, int picture_bytes, int header_bytes) {
  int flags = 0;
  const int total = picture_bytes + header_bytes;
  if (!data || total <= 0) return 0;
  end_code_seen_ = has_end_code(data, total) ? 1 : 0;
  if (header_bytes > 0) {
    int code = 0;
    int at = find_next_header_start(data, header_bytes, &code);
    if (code == 0x1B3) {
      update_seqhdr(data + at, header_bytes - at);
      flags |= kSeqHandled;
      const int from = at + 4;
      const int next = find_next_gop_or_picture_start(data + from, header_bytes - from, &code);
      at = from + next;
    }
    if (code == 0x1B8) {
      update_gop(data + at, header_bytes - at);
      flags |= kGopRewritten;
    }
    header_bytes_ += header_bytes;
    if (picture_bytes <= 0) return flags;
  }
  uint8_t* p = data + header_bytes;
  if (picture_bytes < 8 || pic_.decode(p, picture_bytes) <= 0) {
    // A picture cut short: counted as a frame so that time codes go on.
    if (vbv_) fields_ += 2;
    return flags;
  }
  if (pic_.vbv_delay == 0xFFFF) flags |= kVbrPicture;
  const int fields = pic_.get_field_count(progressive_);
  if (vbv_) {
    const int delay = vbv_->get_vbv_delay(pic_, prev_picture_bytes_, header_bytes_);
    const int o = find_code(p, picture_bytes, 0x00);
    if (delay != pic_.vbv_delay && o >= 0 && picture_bytes - o >= 8) {
      uint8_t* b = p + o;
      b[5] = uint8_t((b[5] & 0xF8) | ((delay >> 13) & 0x07));
      b[6] = uint8_t(delay >> 5);
      b[7] = uint8_t(((delay & 0x1F) << 3) | (b[7] & 0x07));
    }
    header_bytes_ = 0;
    prev_picture_bytes_ = picture_bytes;
    fields_ += fields;
  } else {
    trace("Save::update (): _vbv=nil !\n");
  }
  return flags;
}

int Save::add_video(uint8_t* data, int bytes, int stream_id) {
  const int took = vbr_active_ ? muxer_->vbr_add_es_data(stream_id, data, bytes, 0)
                               : muxer_->add_es_data(stream_id, data, bytes, 0);
  bytes_written_ += took;
  return took;
}

int Save::save_vbs(uint8_t* data, int picture_bytes, int header_bytes, int stream_id) {
  if (!muxer_) {
    trace("Save::save_vbs (): Muxer object hasn't been created\n");
    return 0;
  }
  if (failed()) return 0;
  const int before = fields_;
  vbr_flags_ |= update(data, picture_bytes, header_bytes);
  if (stream_id == 0) stream_id = video_id_;
  const int bytes = header_bytes + picture_bytes;
  if (!vbr_active_ && (vbr_flags_ & kVbrPicture) && muxer_->is_svcd()) vbr_active_ = 1;
  const int took = add_video(data, bytes, stream_id);
  if (vbr_active_) {
    vbr_bytes_ += took;
    vbr_fields_ += fields_ - before;
  }
  return failed() ? 0 : took;
}

int Save::save_abs(const uint8_t* data, int bytes, int stream_id, int pid) {
  if (!muxer_) {
    trace("Save::save_abs (): Muxer object hasn't been created\n");
    return 0;
  }
  const int type = muxer_->get_type();
  if (type == 0 || type == MUX_MPEG1_VIDEO_ES || type == MUX_MPEG2_VIDEO_ES) return 0;
  int k = -1;
  for (int i = 0; i < n_audio_; ++i)
    if (audio_id_[i] == stream_id && ((pid & 0x1FFF) == 0 || (audio_pid_[i] & 0x1FFF) == (pid & 0x1FFF))) k = i;
  if (k < 0) {
    trace("Save::save_abs (): invalid abs_id_pid = (0x%02x: %d)\n", stream_id, pid);
    return 0;
  }
  // Each stream's first bytes move on to its first frame start; linear PCM
  // has no frames to look for.
  int skipped = 0;
  if (!audio_started_[k]) {
    const bool mpa = stream_id >= 0xC0 && stream_id <= 0xDF;
    const bool ac3 = (stream_id >= 0x80 && stream_id <= 0x87) || audio_kind_[k] == ES_KIND_AC3;
    if (mpa || ac3) {
      while (skipped + 1 < bytes && !(mpa ? data[skipped] == 0xFF && (data[skipped + 1] & 0xF0) == 0xF0
                                          : data[skipped] == 0x0B && data[skipped + 1] == 0x77))
        ++skipped;
      if (skipped + 1 >= bytes) return bytes;  // no frame start yet: all of it is dropped
    }
    data += skipped;
    bytes -= skipped;
    audio_started_[k] = 1;
  }
  if (bytes <= 0) return 0;
  const int took = vbr_active_ ? muxer_->vbr_add_es_data(stream_id, data, bytes, pid)
                               : muxer_->add_es_data(stream_id, data, bytes, pid);
  bytes_written_ += took;
  return took > 0 ? took + skipped : took;
}

int Save::vbr_flush(int final) {
  if (!muxer_) return 0;
  const bool ts = muxer_->get_type() == MUX_TRANSPORT;
  if (!ts && (!vbr_active_ || (!final && (vbr_flags_ == 0 || vbr_fields_ < 1)))) return 0;
  const int r = muxer_->vbr_mux(final);
  vbr_flags_ = 0;
  vbr_bytes_ = 0;
  vbr_fields_ = 0;
  return r;
}

int Save::set_aspect_ratio(int code) {
  if (code >= 1 && code <= 14 && code != aspect_ratio_) aspect_ratio_ = code;
  return aspect_ratio_;
}

int Save::set_drop_frame_flag(int flag) {
  if (flag && seq_.get_horizontal_size() > 0 && seq_.get_frame_rate_code() != 4) {
    trace("ERROR (VBV::set_drop_frame_flag): drop-frame (1) for non-NTSC frame rate\n");
    return drop_frame_;
  }
  drop_frame_ = flag ? 1 : 0;
  if (vbv_) vbv_->set_drop_frame_flag(drop_frame_);
  return drop_frame_;
}

void Save::set_vbv_buffer_size(const SeqHdr& seq) { vbv_buffer_size_ = seq.vbv_buffer_size & 0x3FF; }

void Save::set_vbr() {
  vbr_wanted_ = 1;
  if (!muxer_ || kind_ == MUX_MPEG1_VIDEO_ES || kind_ == MUX_MPEG2_VIDEO_ES) return;
  vbr_active_ = 1;
  muxer_->set_vbr(1);
}

void Save::set_svcd() {
  svcd_ = 1;
  if (muxer_) muxer_->set_svcd(1);
  if (aspect_ratio_ != 2 && aspect_ratio_ != 3) aspect_ratio_ = height_ == 480 ? 2 : 3;
}

int Save::set_transport_stream_id(int id) {
  return muxer_ && muxer_->get_type() == MUX_TRANSPORT ? muxer_->set_transport_stream_id(id) : 0;
}
int Save::set_program_number(int n) {
  return muxer_ && muxer_->get_type() == MUX_TRANSPORT ? muxer_->set_program_number(n) : 0;
}
int Save::set_pmt_pid(int pid) {
  return muxer_ && muxer_->get_type() == MUX_TRANSPORT ? muxer_->set_pmt_pid(pid) : 0;
}

int Save::set_psi_sections(const char* source_file_name) {
  if (!muxer_ || muxer_->get_type() != MUX_TRANSPORT) return 0;
  const int rc = muxer_->set_psi_sections(source_file_name);
  if (rc) {
    trace("ERROR (%s): set_psi_sections () failed\n", source_file_name ? source_file_name : "");
    return rc;
  }
  read_transport_ids();
  return 0;
}

int Save::get_audio_ids(int* ids, int* pids, int max) const {
  int n = 0;
  for (; n < n_audio_ && n < max; ++n) {
    if (ids) ids[n] = audio_id_[n];
    if (pids) pids[n] = audio_pid_[n];
  }
  return n;
}

int Save::report_stdb_error_status(int32_t* status) {
  if (!muxer_ || !status) {
    trace("Save::report_stdb_error_status (ERROR): %s\n", muxer_ ? "status=nil" : "muxer=nil");
    return 0;
  }
  const int a = muxer_->count_stdb_errors(), b = muxer_->count_stdb_underflows();
  *status = a && a > b ? a : -b;
  return a + b;
}

std::string Save::write_failure() const {
  std::string text = "the output could not be written";
  if (const int e = muxer_ ? muxer_->write_errno() : 0) text += std::string(": ") + std::strerror(e);
  return text;
}

int Save::close(int keep) {
  if (closed_) return 0;
  closed_ = 1;
  if (!muxer_) return keep ? 1 : 0;
  int bad = 0;
  if (keep) {
    if (vbr_active_)
      vbr_flush(1);
    else
      muxer_->flush();
    if (!aborted_ && !end_code_seen_ && !failed()) {
      uint8_t end[4];
      std::memcpy(end, kEndCode, 4);
      bytes_written_ += muxer_->add_es_data(video_id_, end, 4, 0);
    }
    muxer_->set_end_flags();
    bad = muxer_->finish() != 0 || failed();
  }
  muxer_.reset();
  if (!keep || bad) {
    ::unlink(partial_.c_str());
    return bad;
  }
  if (std::rename(partial_.c_str(), name_.c_str()) != 0) {
    trace("Save::close (ERROR): cannot rename \"%s\" to \"%s\"\n", partial_.c_str(), name_.c_str());
    ::unlink(partial_.c_str());
    return 1;
  }
  return 0;
}
