// Multiplexing whole elementary-stream files into one output, the rate
// estimates and Video CD checks beside it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "demux/demuxer.h"
#include "foundation/es_data.h"
#include "foundation/job_control.h"

// What a finished mux wrote, for tools that print it.
struct MuxStreamReport {
  int stream_id = 0, sub_id = 0, pid = 0, kind = 0, packets = 0, buffer = 0;
  int64_t bytes = 0;
  int64_t peak_held = 0;  // most bytes waiting in the muxer at once
  int stream_type = 0;    // transport streams: the PMT's stream_type
};
struct MuxReport {
  int type = 0, svcd = 0, nav = 0, mux_rate = 0;
  int pmt_pid = 0;  // transport streams
  // DVD: per navigation pack as patched: lbn, scr, s_ptm, e_ptm, vobu_ea, cell.
  std::vector<std::array<uint32_t, 6>> nav_packs;
  int64_t bytes = 0, packs = 0;
  std::vector<MuxStreamReport> streams;
};

// Muxes the inputs (any order; the video is found by kind) into out_name.
// Returns the bytes written, 0.0 on failure. The control's result: the
// buffer underflow ("wait") total when it is larger than
// the overflow total, else minus the overflow total, 0 for a clean mux; a
// failure is below -1000000 (see kMuxFailed). The output is written beside
// the target and renamed over it only when complete; a stop with -1
// removes it, other stops keep what was written.
// nav_option 1..99 writes a DVD stream (type 6) with navigation packs and
// that VOB id; chapters (starts in seconds) default to one at 0.
struct NavChapters {
  const double* starts = nullptr;
  int count = 0;
};
double muxer_encode(const char* out_name, int mux_type, int n_es, ESData* es_list, JobControl* status, int vbr,
                    int svcd, int option, int pmt_pid, MuxReport* report = nullptr, int nav_option = 0,
                    NavChapters chapters = {});
double muxer_encode_vbr(const char* out_name, int mux_type, int n_es, ESData* es_list, JobControl* status, int vbr,
                        int svcd, int option, int pmt_pid, MuxReport* report = nullptr, int nav_option = 0,
                        NavChapters chapters = {});
constexpr int32_t kMuxFailed = -1000001;
constexpr int32_t kMuxStopped = -1000002;

// Opens an input of the multiplexers into es: an MPEG audio, AC-3 or MPEG
// video elementary stream, or a WAVE file of 16-bit samples (muxed as linear
// PCM, which program streams carry at 48 kHz only). 0 on success, 1 when the
// file is none of these.
int open_mux_input(const char* name, ESData* es);
// Duration in seconds (0.0 when the file cannot be read), less the audio
// offset for MPEG audio.
double check_es_data(ESData* es);
// The audio offset (ms) in whole audio frames, rounded half away from zero.
int get_offset_frames(const ESData* es);
// One silent frame of the stream's format; empty when there is none.
std::vector<uint8_t> make_es_mute_frame(const ESData* es);
int is_vcd_pair(const ESData* video, const ESData* audio);
// out[0] first video's rate, [1] MPEG-1 System, [2] Video CD (0 unless one
// Video CD pair), [3] MPEG-2 program, [4] transport; bit/s.
void mux_rates_for_es_list(int out[5], int n, const ESData* list);
void mux_rates_for_av_lists(int out[5], int n_video, const ESData* videos, int n_audio, const ESData* audios);
// Output sizes in bytes of the five kinds of mux_rates_for_es_list: the
// longest input's duration x that rate / 8.
void estimate_sizes(double out[5], int n, ESData* list);
// True when both names lead to one existing file (an output that would
// overwrite an input).
bool mux_same_file(const char* a, const char* b);
// Inputs without a stream id get, in order, AC-3 128.., LPCM 160..,
// MPEG audio 192.., video 224..; a preset id equal to the next value moves
// its counter on.
void assign_default_stream_ids(int n, ESData* list);
