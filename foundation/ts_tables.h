// Program association and program map tables of a transport stream, each
// also kept rebuilt as one transport packet so a cut stream can carry the
// same tables again.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/ac3.h"

class PAT {
 public:
  PAT() = default;
  PAT(const PAT& other) { *this = other; }
  PAT& operator=(const PAT& other);
  ~PAT() = default;

  void clear();
  void cleanup();

  // section points at table_id (pointer_field already skipped); length is
  // the bytes available. Returns section_length + 3, or 0 on failure.
  // Reserved-bit and CRC faults are counted in error_count, not failures.
  [[nodiscard]] int decode(const uint8_t* section, int length);

  int get_transport_stream_id() const { return transport_stream_id ? transport_stream_id : 16; }
  int get_program_number() const { return program_count > 0 ? program_numbers[0] : 3; }
  int get_pmt_pid() const { return program_count > 0 ? pmt_pids[0] : 48; }
  const uint8_t* get_packet() const { return stored_packet_length == 188 ? stored_packet : nullptr; }

  int32_t section_length = 0;
  int32_t transport_stream_id = 0;
  int32_t version_number = 0;
  int32_t current_next_indicator = 0;
  int32_t section_number = 0;
  int32_t last_section_number = 0;
  int32_t program_count = 0;
  std::vector<int32_t> program_numbers;
  std::vector<int32_t> pmt_pids;
  int32_t network_pid_count = 0;
  std::vector<int32_t> network_pids;
  int32_t error_count = 0;
  uint32_t CRC_32 = 0;
  uint8_t stored_packet[188] = {};
  int32_t stored_packet_length = 0;
};

class TSPMT {
 public:
  TSPMT() { clear(); }
  TSPMT(const TSPMT& other) : TSPMT() { *this = other; }
  TSPMT& operator=(const TSPMT& other);
  ~TSPMT() = default;

  // Zeroes the record; error_count becomes 1 (never decoded counts as faulty).
  void clear();
  void cleanup();

  // section points at table_id; pid is the PID it was read from. Returns
  // length on success, 0 when any fault was found.
  [[nodiscard]] int decode(const uint8_t* section, int length, int pid);
  // Builds the record from lists found by scanning instead of a section.
  void set_pmt(int count, const int* pids, const int* type_codes);

  const uint8_t* get_packet() const { return stored_packet_length == 188 ? stored_packet : nullptr; }

  int32_t section_length = 0;
  int32_t program_number = 0;
  int32_t version_number = 0;
  int32_t current_next_indicator = 0;
  int32_t section_number = 0;
  int32_t last_section_number = 0;
  int32_t PCR_PID = 0;
  uint32_t CRC_32 = 0;
  int32_t program_info_length = 0;
  int32_t program_descriptor_count = 0;
  std::vector<std::vector<uint8_t>> program_descriptors;  // whole descriptors
  std::vector<int32_t> program_descriptor_lengths;
  int32_t es_count = 0;
  std::vector<int32_t> es_type_codes;
  std::vector<int32_t> es_pids;
  std::vector<int32_t> es_info_lengths;
  std::vector<std::vector<uint8_t>> es_descriptors;  // empty when no ES has any
  uint8_t stored_packet[188] = {};
  int32_t stored_packet_length = 0;
  int32_t pmt_pid = 0;
  int32_t error_count = 1;
  int32_t ac3_es_count = 0;
  int32_t first_ac3_pid = 0;
  AC3Descriptor ac3_descriptor;
  int32_t lpcm_flag = 0;  // entries of stream_type 0x80 (linear PCM)
  int32_t spare = 0;

 private:
  void free_es();
};

// One PSI section gathered from the payloads of the packets of its PID: a
// section longer than one packet's payload continues in the next packets
// of the PID. The first payload starts a unit (its pointer_field skips the
// end of an earlier section).
class SectionAssembler {
 public:
  // Starts over from a unit-start payload; true when the section is whole.
  bool start(const uint8_t* payload, int length);
  // Appends the next payload of the PID; true when the section is whole. A
  // payload that starts a unit continues it only up to its pointer_field:
  // a section still short then is given up.
  bool add(const uint8_t* payload, int length, bool unit_start);
  // The section is whole / can still grow.
  bool complete() const { return want_ > 0 && int(bytes_.size()) == want_; }
  bool growing() const { return want_ >= 0 && !bytes_.empty() && !complete(); }
  // The section from its table_id, as far as gathered.
  const uint8_t* data() const { return bytes_.data(); }
  int size() const { return static_cast<int>(bytes_.size()); }

 private:
  void append(const uint8_t* p, int n);
  std::vector<uint8_t> bytes_;
  int want_ = 0;  // 3 + section_length once known, -1 for a length no section has
};
