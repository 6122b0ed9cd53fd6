// What a save writes (RecordData), one save job (RecordJob) and the save
// pipeline that runs it (prepare_recording): the Recorder produces the
// video GOP by GOP, the Save writer multiplexes it into the output, and the
// loop reports progress and obeys pause and stop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "access/clip.h"
#include "demux/demuxer.h"
#include "encode/encoder.h"
#include "foundation/es_data.h"
#include "foundation/job_control.h"
#include "record/frame_source.h"

// Video set-up of a recording over an owned sequence header.
struct RecordVideo {
  RecordVideo() = default;
  explicit RecordVideo(const SeqHdr& seq);
  RecordVideo(const RecordVideo& o) { *this = o; }
  RecordVideo& operator=(const RecordVideo& o);
  int get_chroma_format() const { return seq ? seq->get_chroma_format() : 1; }
  void set_vcd_aspect();

  RecordVideoSetup setup;  // setup.seqhdr points at seq
  std::unique_ptr<SeqHdr> seq;
};
// Fills setup from a sequence header: defaults, then the derived values.
void record_video_setup_init(RecordVideoSetup* setup, const SeqHdr& seq);

// Result codes of a save (JobControl::result); 0 is a clean save, positive
// values and small negative ones are the multiplexer's buffer report. The
// window's stop answers reach the save as the control's command: -1 stops
// and deletes the output, -2 (and any other stop) keeps a playable file.
constexpr int32_t kSaveFailed = -1000001;
constexpr int32_t kSaveStopped = -1000002;

// The encoder words of a save; 0 keeps what the output's header derives.
struct RecordEncoder {
  int32_t me_mode = 0;                // motion-search effort (1 fast, 2 thorough)
  int32_t search_h = 0, search_v = 0;  // motion search ranges
  int32_t fixed_mquant = 0;            // quantiser of clips re-encoded whole
  int32_t fixed_mq_max_bit_rate = 0;   // bit/s ceiling with fixed_mquant
};

class RecordData {
 public:
  RecordData() = default;
  RecordData(int kind, const char* name, const RecordVideo* video, int n_es, const ESData* es);
  RecordData(const RecordData& o) { *this = o; }
  RecordData& operator=(const RecordData& o);

  void check_audio_params();
  int set_aspect_ratio(int code) {
    if (code >= 1 && code <= 14) aspect_ratio = code;
    return aspect_ratio;
  }
  void set_field_order(int v) { field_order = v; }

  int32_t kind = 0;
  std::string name;
  int32_t n_es = 1;
  int32_t ref_clip = -1;
  std::unique_ptr<RecordVideo> video_setup;
  ESData video, audio;
  int32_t audio_copy = -1;
  int32_t audio_option = 0;
  // 1: every audio stream of the reference clip is mixed into the one
  // output stream instead of each coming out on its own.
  int32_t mix_audio = 0;
  int32_t pmt_pid = 0, video_pid = 0, audio_pid = 0;
  // Recorder options.
  int32_t luma_copy = 1;
  int32_t reserved_option2 = 1;
  int32_t scene_change = 1;
  int32_t film_output = 0;  // changes the output's frame rate: only when asked for
  int32_t reserved_option5 = 1;
  int32_t gop_size = 0;
  int32_t sub_gop_size = -1;
  int32_t gop_structure = 0;
  int32_t keep_structure = 0;
  int32_t aspect_ratio = 0;
  int32_t field_order = 0;
  std::vector<double> pcm_scale;  // pairs of (time, gain)
  int32_t svcd = 0;
  int32_t dvd = 0;  // kind 6 with navigation packs
  int32_t audio_crc = 0;  // encoded MPEG audio frames carry a CRC
  int32_t restructure = 0;
  RecordEncoder encoder;
};

// A variable-rate output is asked for: by the video stream's flag or by a
// set-up whose sequence header carries no fixed rate.
bool record_wants_vbr(const RecordData& d);

// Per output frame where one kept range follows another: the output frame
// after the join and the pictures re-encoded around it.
struct SaveJoin {
  int at = 0;
  int reencoded = 0;
};

// What one output audio stream of a save did.
struct SaveAudioReport {
  int stream_id = 0, pid = 0, kind = 0;
  int64_t frames = 0, copied = 0, encoded = 0;
};

// What a finished save did.
struct SaveReport {
  int kind = 0;
  int frames = 0, fields = 0, gops = 0, copied = 0, reencoded = 0, decoded = 0;
  double bytes = 0;
  int32_t result = 0;
  int warnings = 0;
  int stopped = 0, failed = 0;
  std::string message;  // why a save failed
  std::vector<SaveJoin> joins;
  std::vector<SaveAudioReport> audio;
};

// A copy of a working clip list with links of its own, and its release.
MPEG_Clip* record_copy_clips(const MPEG_Clip* list);
void record_free_clips(MPEG_Clip* list);

class RecordJob {
 public:
  // The clip list is copied; the control stays the caller's (may be null).
  RecordJob(const MPEG_Clip* clips, const RecordData& data, JobControl* control);
  ~RecordJob();
  RecordJob(const RecordJob&) = delete;
  RecordJob& operator=(const RecordJob&) = delete;

  MPEG_Clip* clips = nullptr;
  std::string name;
  int32_t kind = 0;
  RecordData data;
  void* done_arg1 = nullptr;
  void* done_arg2 = nullptr;
  void (*done)(void*, void*) = nullptr;
  JobControl* control = nullptr;
  int32_t copy_only = 0;
  int32_t whole_gops = 0;  // the clips are whole source GOPs: copied as they are
  SaveReport* report = nullptr;  // filled when set
  // Renders the movie's transitions and overlays; without one a list
  // holding any is refused.
  std::unique_ptr<FrameSource> frames;
};

// Runs the whole save; the job stays the caller's. Returns 0 when the
// output was saved (also when stopped with a kept file), 1 otherwise. The
// control ends with progress 100 and the outcome, its result the save's
// result code.
int prepare_recording(RecordJob& job);
