// The demultiplexer job behind the demultiplexer tool: lists the streams of
// a system stream with an estimate of each one's bytes, and writes the
// streams the user picked, each to a file of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "demux/demuxer.h"
#include "foundation/engine_error.h"

class MPEG_Demuxer {
 public:
  // A job on an MPEG-1 system, Video CD, MPEG-2 program or transport stream
  // with streams and a byte rate; null (and *error filled) otherwise.
  static std::unique_ptr<MPEG_Demuxer> create(const char* file_name, EngineError* error = nullptr);
  ~MPEG_Demuxer();
  MPEG_Demuxer(const MPEG_Demuxer&) = delete;
  MPEG_Demuxer& operator=(const MPEG_Demuxer&) = delete;

  int get_stream_type() const;
  double get_file_size() const;
  int get_es_list(int* ids_out, int* types_out, int* pids_out, int n) const;
  int get_es_sizes(double* sizes_out, int n) const;

  // Each selection holds a stream_id in its low 16 bits and a PID in its
  // high 16 bits (0: any); names[i] is its output file. A stream goes to the
  // first selection that names it; a missing name or a name an earlier
  // selection took is passed over. Returns the demultiplexer's result
  // (-1.0 when an output failed), 0.0 when nothing could start. used, when
  // given, receives the records written, as the job left them. The control
  // ends with progress 100 and the outcome also when nothing could start.
  double save_es_data(int n_sel, const uint32_t* selections, const char* const* names, JobControl* control,
                      std::vector<ESData>* used = nullptr, DemuxReport* report = nullptr);

  DeMuxer* demuxer() { return demuxer_.get(); }

 private:
  MPEG_Demuxer() = default;
  bool open(const char* file_name, EngineError* error);

  std::unique_ptr<DeMuxer> demuxer_;
  int n_es_ = 0;
  std::vector<int> ids_, types_, pids_;
  std::vector<double> sizes_;
};

// The tool calls the job by this name.
using Demuxer = MPEG_Demuxer;
