#include "mux/demux_job.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "demux/demuxer_cache.h"
#include "foundation/probe.h"
#include "foundation/trace.h"

namespace {

int kind_of(const ESData& e) { return e.lpcm ? ES_KIND_LPCM : e.ac3 ? ES_KIND_AC3 : e.kind; }

int stream_rate(const ESData& e) {
  if (e.is_video()) return e.get_video_bit_rate();
  const int r = e.get_audio_bit_rate();
  return r > 0 ? r : e.bit_rate;
}

}  // namespace

std::unique_ptr<MPEG_Demuxer> MPEG_Demuxer::create(const char* file_name, EngineError* error) {
  std::unique_ptr<MPEG_Demuxer> job(new MPEG_Demuxer);
  if (!job->open(file_name, error)) return nullptr;
  return job;
}

bool MPEG_Demuxer::open(const char* file_name, EngineError* error) {
  const std::string name = file_name ? file_name : "";
  int bit_rate = 0;
  const int type = file_name ? mpegfile_get_stream_type_and_bit_rate(file_name, &bit_rate) : 0;
  if (type < 4 || type > 8)
    return engine_error_set(error, EngineError::bad_input, "<" + name + "> is no MPEG system stream");
  demuxer_.reset(demuxer_create(file_name, 0));
  if (!demuxer_) {
    trace("MPEG_Demuxer::ctor (ERROR): MPEG Systems parser initialization failed for <%s>\n", file_name);
    return engine_error_set(error, EngineError::bad_input, "<" + name + "> cannot be read");
  }
  int count = 0;
  ESData* es = demuxer_->get_es_data(&count);
  if (!es || count <= 0) {
    trace("MPEG_Demuxer::ctor (ERROR): MPEG Systems parser has no ES data (n_es=%d)\n", count);
    demuxer_.reset();
    return engine_error_set(error, EngineError::bad_input, "<" + name + "> holds no streams");
  }
  const double byte_rate = demuxer_->get_bit_rate() / 8.0;
  if (byte_rate < 1) {
    trace("MPEG_Demuxer::ctor (ERROR): invalid bit rate value = %.6f mbs\n", byte_rate * 8e-6);
    demuxer_.reset();
    return engine_error_set(error, EngineError::bad_input, "<" + name + "> has no byte rate");
  }
  const double file_size = demuxer_->get_file_size_double();
  // The measured length when there is one; the byte rate otherwise.
  const double length = demuxer_->get_total_length();
  const double duration = length > 0 ? length : file_size / byte_rate;
  n_es_ = count;
  double audio_sum = 0, video_sum = 0, video_rates = 0;
  for (int i = 0; i < count; ++i) {
    ids_.push_back(es[i].stream_id);
    types_.push_back(kind_of(es[i]));
    pids_.push_back(es[i].pid);
    const int rate = std::max(stream_rate(es[i]), 0);
    const double size = double(rate) * duration / 8.0;
    sizes_.push_back(size);
    if (es[i].is_video()) {
      video_sum += size;
      video_rates += rate;
    } else {
      audio_sum += size;
    }
  }
  // A video header gives the highest rate, which a variable-rate stream
  // (and many a constant-rate one) stays below: the video shares what the
  // audio leaves of the file.
  const double left = file_size - audio_sum;
  if (audio_sum + video_sum > file_size && left > 0 && left < video_sum && video_rates > 0)
    for (int i = 0; i < count; ++i)
      if (es[i].is_video()) sizes_[size_t(i)] = std::max(stream_rate(es[i]), 0) * (left / video_rates);
  return true;
}

MPEG_Demuxer::~MPEG_Demuxer() = default;

int MPEG_Demuxer::get_stream_type() const { return demuxer_ ? demuxer_->get_stream_type() : 0; }

double MPEG_Demuxer::get_file_size() const { return demuxer_ ? demuxer_->get_file_size_double() : 0.0; }

int MPEG_Demuxer::get_es_list(int* ids_out, int* types_out, int* pids_out, int n) const {
  const int k = std::max(0, std::min(n, n_es_));
  for (int i = 0; i < k; ++i) {
    if (ids_out) ids_out[i] = ids_[size_t(i)];
    if (types_out) types_out[i] = types_[size_t(i)];
    if (pids_out) pids_out[i] = pids_[size_t(i)];
  }
  return k;
}

int MPEG_Demuxer::get_es_sizes(double* sizes_out, int n) const {
  const int k = std::max(0, std::min(n, n_es_));
  for (int i = 0; i < k && sizes_out; ++i) sizes_out[i] = sizes_[size_t(i)];
  return k;
}

double MPEG_Demuxer::save_es_data(int n_sel, const uint32_t* selections, const char* const* names, JobControl* control,
                                  std::vector<ESData>* used, DemuxReport* report) {
  if (used) used->clear();
  if (report) *report = DemuxReport();
  auto refuse = [control](const char* why) {
    if (control) {
      control->set_progress(100.0);
      control->finish(JobOutcome::failed, 0, why);
    }
    return 0.0;
  };
  if (!selections || !names) {
    trace("ERROR (Demuxer::save_es_data): with nil input(s)\n");
    return refuse("no streams or names given");
  }
  int count = 0;
  ESData* es = demuxer_ ? demuxer_->get_es_data(&count) : nullptr;
  if (!es || count <= 0) {
    trace("ERROR (Demuxer::save_es_data): get_es_data () = nil\n");
    return refuse("no streams");
  }
  std::vector<ESData> records;
  std::vector<std::string> taken_names;
  for (int i = 0; i < count && records.size() < 32; ++i) {
    int sel = -1;
    for (int k = 0; k < n_sel; ++k) {
      const int id = int(selections[k] & 0xFFFF), pid = int(selections[k] >> 16);
      if (id == es[i].stream_id && (pid == 0 || pid == es[i].pid)) {
        sel = k;
        break;
      }
    }
    if (sel < 0 || !names[sel] || !*names[sel]) continue;
    if (std::find(taken_names.begin(), taken_names.end(), std::string(names[sel])) != taken_names.end()) continue;
    taken_names.push_back(names[sel]);
    ESData r = es[i];
    r.set_name(names[sel]);
    r.audio_offset = 0;
    records.push_back(r);
  }
  if (records.empty()) return refuse("no stream selected");
  const double done = demuxer_->demuxer(int(records.size()), records.data(), control, report);
  if (used) *used = records;
  return done;
}
