#include "engine/tool_facades.h"

#include "demux/demuxer.h"
#include "demux/gop_fixer.h"
#include "demux/timestamp_scan.h"
#include "foundation/job_control.h"
#include "mux/convertor.h"

GopFixerFacade::GopFixerFacade() = default;
GopFixerFacade::~GopFixerFacade() { destroy(); }

void GopFixerFacade::create() { fixer_ = std::make_unique<GopFixer>(); }

void GopFixerFacade::destroy() {
  if (fixer_) fixer_->cleanup();
  fixer_.reset();
}

int GopFixerFacade::init(const char* name) { return fixer_ && name ? fixer_->init(name) : 1; }
void GopFixerFacade::cleanup() {
  if (fixer_) fixer_->cleanup();
}
void GopFixerFacade::set_out_fname(const char* name) {
  if (fixer_) fixer_->set_out_fname(name);
}
int GopFixerFacade::scan() { return fixer_ ? fixer_->scan() : 0; }
int GopFixerFacade::fix() { return fixer_ ? fixer_->fix() : 0; }
int GopFixerFacade::is_done() const { return fixer_ ? (fixer_->fix_done() ? 1 : 0) : 1; }
int GopFixerFacade::close() { return fixer_ ? fixer_->close() : 0; }
int GopFixerFacade::get_error_count() const { return fixer_ ? fixer_->get_error_count() : 0; }
int GopFixerFacade::get_error_fix_count() const { return fixer_ ? fixer_->get_error_fix_count() : 0; }
int GopFixerFacade::get_state() const { return fixer_ ? fixer_->is_read_only() : 1; }
int GopFixerFacade::recheck_state() { return fixer_ ? fixer_->recheck_read_only() : 1; }
int GopFixerFacade::get_second_error_count() const { return fixer_ ? fixer_->get_long_gop_count() : 0; }
int GopFixerFacade::get_ts_counter_1() const { return fixer_ ? fixer_->get_abs_error_count() : 0; }
int GopFixerFacade::get_ts_counter_2() const { return fixer_ ? fixer_->get_abs_fix_count() : 0; }
int GopFixerFacade::is_dvd_video() const { return fixer_ ? fixer_->get_video_format() : 0; }
int GopFixerFacade::get_long_gop_count() const { return fixer_ ? fixer_->get_long_gop_count() : 0; }
uint64_t GopFixerFacade::get_file_size() const { return fixer_ ? fixer_->get_file_size() : 0; }
uint64_t GopFixerFacade::get_position() const { return fixer_ ? fixer_->get_position() : 0; }

ConvertorFacade::ConvertorFacade() = default;
ConvertorFacade::~ConvertorFacade() = default;

void ConvertorFacade::create() { convertor_ = std::make_unique<Convertor>(); }
void ConvertorFacade::destroy() { convertor_.reset(); }

int ConvertorFacade::get_stream_type() const {
  DeMuxer* d = convertor_ ? convertor_->demuxer() : nullptr;
  return d ? d->get_stream_type() : 0;
}

int ConvertorFacade::get_programs(int* pids, int max) const {
  DeMuxer* d = convertor_ ? convertor_->demuxer() : nullptr;
  if (!d || d->get_stream_type() != 8 || !pids || max <= 0) return 0;
  int count = 0;
  const ESData* es = d->get_es_data(&count);
  int n = 0;
  for (int i = 0; es && i < count && n < max; ++i) pids[n++] = es[i].pid;
  return n;
}

double ConvertorFacade::get_file_size() const {
  DeMuxer* d = convertor_ ? convertor_->demuxer() : nullptr;
  return d ? d->get_file_size_double() : 0.0;
}

double ConvertorFacade::get_bit_rate() const {
  DeMuxer* d = convertor_ ? convertor_->demuxer() : nullptr;
  const int rate = d ? d->get_bit_rate() : 0;
  return rate > 0 ? d->get_file_size_double() * 8.0 / rate : 0.0;
}

int ConvertorFacade::load(const char* name) { return convertor_ && name ? convertor_->load(name) : 0; }
int ConvertorFacade::get_es_list(int* kinds, int* stream_ids, int* pids, int max) {
  return convertor_ ? convertor_->get_es_list(kinds, stream_ids, pids, max) : 0;
}
int ConvertorFacade::select_stream(uint32_t selection) {
  return convertor_ ? convertor_->select_stream(int(selection & 0xFF), int((selection >> 16) & 0x1FFF)) : 0;
}
int ConvertorFacade::deselect_stream(uint32_t selection) {
  return convertor_ ? convertor_->deselect_stream(int(selection & 0xFF), int((selection >> 16) & 0x1FFF)) : 0;
}
int ConvertorFacade::estimate_mux_rates(double out[5]) { return convertor_ && out ? convertor_->estimate_sizes(out) : 0; }
namespace {

// A window waits for the outcome: a call with nothing to run ends the job.
void end_without_engine(JobControl* control, const char* what) {
  if (!control) return;
  control->set_progress(100.0);
  control->finish(JobOutcome::failed, 0, what);
}

}  // namespace

double ConvertorFacade::save(const char* out_name, int kind, JobControl* control) {
  if (!convertor_) {
    end_without_engine(control, "no converter");
    return 0.0;
  }
  return convertor_->save(out_name, kind, control);
}
int ConvertorFacade::get_pmt_pid() const { return convertor_ ? convertor_->get_pmt_pid() : 16; }
int ConvertorFacade::set_pmt_pid(int pid) { return convertor_ ? convertor_->set_pmt_pid(pid) : 0; }
int ConvertorFacade::set_video_pid(int pid) { return convertor_ ? convertor_->set_video_pid(pid) : 0; }
int ConvertorFacade::set_audio_pid(int pid) { return convertor_ ? convertor_->set_audio_pid(pid) : 0; }

TimeStampScanFacade::TimeStampScanFacade() = default;
TimeStampScanFacade::~TimeStampScanFacade() = default;

void TimeStampScanFacade::create() { scan_ = std::make_unique<TimeStampScan>(); }
void TimeStampScanFacade::destroy() { scan_.reset(); }
int TimeStampScanFacade::get_stream_type() const { return scan_ ? scan_->get_stream_type() : 0; }
int TimeStampScanFacade::open(const char* name) { return scan_ && name ? scan_->open(name) : 1; }
int TimeStampScanFacade::scan(JobControl* control) {
  if (!scan_) {
    end_without_engine(control, "no scanner");
    return 0;
  }
  return scan_->scan(control);
}
int TimeStampScanFacade::get_list(int kind, const TimeStampEntry** list) const {
  if (!scan_) {
    if (list) *list = nullptr;
    return 0;
  }
  return scan_->get_list(kind, list);
}
