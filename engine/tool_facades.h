// What the stream-tool windows hold: facades over the engine object each
// creates (the GOP time-code fixer, the stream converter, the time-stamp
// scanner). Every call is safe before create and after destroy, returning
// a fixed default, so a window may poll at any time.
#pragma once

#include <cstdint>
#include <memory>

class Convertor;
class GopFixer;
class TimeStampScan;
class JobControl;
struct TimeStampEntry;

class GopFixerFacade {
 public:
  GopFixerFacade();
  ~GopFixerFacade();
  GopFixerFacade(const GopFixerFacade&) = delete;
  GopFixerFacade& operator=(const GopFixerFacade&) = delete;

  void create();
  void destroy();
  bool exists() const { return fixer_ != nullptr; }

  // 0 ready; 1 without a fixer or when the file cannot be checked.
  int init(const char* name);
  void cleanup();
  void set_out_fname(const char* name);
  // One step each (see GopFixer); 0 without a fixer.
  int scan();
  int fix();
  // Every record fixed (1 without a fixer: nothing is left to do).
  int is_done() const;
  // Finishes a copy; -1 when it failed, 0 without a fixer.
  int close();
  // 1 while the input cannot be written (also without a fixer): a window
  // then offers no fix in place.
  int get_state() const;
  // Tests the input's writability again; 1 while it cannot be written
  // (also without a fixer). get_state then gives the new answer.
  int recheck_state();
  // Errors of three kinds: (1) GOP time codes, (2) audio time stamps of a
  // program stream, (3) GOP sizes (long GOPs). Found: (1) get_error_count,
  // (2) get_ts_counter_1, (3) get_second_error_count; fixed: (1)
  // get_error_fix_count, (2) get_ts_counter_2. 0 without a fixer.
  int get_error_count() const;
  int get_error_fix_count() const;
  int get_second_error_count() const;
  int get_ts_counter_1() const;
  int get_ts_counter_2() const;
  // Whether the video meets the DVD rules; 0 without a fixer.
  int is_dvd_video() const;
  int get_long_gop_count() const;
  // Progress in bytes; 0 without a fixer.
  uint64_t get_file_size() const;
  uint64_t get_position() const;

 private:
  std::unique_ptr<GopFixer> fixer_;
};

// A stream is named by a selection word: stream id in bits 0-7, PID in
// bits 16-28.
class ConvertorFacade {
 public:
  ConvertorFacade();
  ~ConvertorFacade();
  ConvertorFacade(const ConvertorFacade&) = delete;
  ConvertorFacade& operator=(const ConvertorFacade&) = delete;

  void create();
  void destroy();
  bool exists() const { return convertor_ != nullptr; }

  int get_stream_type() const;
  // Transport sources only: the PIDs of their elementary streams (at most
  // max); their number.
  int get_programs(int* pids, int max) const;
  double get_file_size() const;
  // The source's duration in seconds from its size and the bit rate found
  // at opening; 0.0 when that rate is 0.
  double get_bit_rate() const;
  int load(const char* name);
  int get_es_list(int* kinds, int* stream_ids, int* pids, int max);
  int select_stream(uint32_t selection);
  int deselect_stream(uint32_t selection);
  // Five estimated output sizes in bytes, one per output kind.
  int estimate_mux_rates(double out[5]);
  // Without a converter the control still ends: failed, progress 100.
  double save(const char* out_name, int kind, JobControl* control);
  int get_pmt_pid() const;
  int set_pmt_pid(int pid);
  int set_video_pid(int pid);
  int set_audio_pid(int pid);

 private:
  std::unique_ptr<Convertor> convertor_;
};

class TimeStampScanFacade {
 public:
  TimeStampScanFacade();
  ~TimeStampScanFacade();
  TimeStampScanFacade(const TimeStampScanFacade&) = delete;
  TimeStampScanFacade& operator=(const TimeStampScanFacade&) = delete;

  void create();
  void destroy();
  bool exists() const { return scan_ != nullptr; }

  int get_stream_type() const;
  // 0 when open; 1 without a scanner or when the file cannot be opened.
  int open(const char* name);
  // Without a scanner the control still ends: failed, progress 100.
  int scan(JobControl* control);
  int get_list(int kind, const TimeStampEntry** list) const;

 private:
  std::unique_ptr<TimeStampScan> scan_;
};
