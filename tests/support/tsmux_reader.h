// A transport-stream reader for tests, written from the ISO 13818-1 syntax
// tables (not from our muxer): PAT and PMT with a bitwise CRC-32, continuity
// per PID, PCRs, PES reassembly with stamps and arrival times taken from the
// PCRs by linear interpolation.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tsr {

struct Pes {
  int64_t first_packet = 0, last_packet = 0;  // packet indices
  double pts = -1, dts = -1;                  // 90 kHz; -1 when absent
  std::vector<uint8_t> payload;
  std::vector<std::pair<int64_t, int>> chunks;  // packet index, bytes it carried
};

struct EsInfo {
  int type = 0, pid = 0;
  std::vector<uint8_t> descriptors;
};

struct Pid {
  std::vector<Pes> pes;
  std::vector<uint8_t> es;  // every payload in order
  int cc_errors = 0;
};

struct File {
  std::string error;  // empty when the syntax held
  int64_t packets = 0;
  int pmt_pid = -1, pcr_pid = -1, program = -1;
  int pat_count = 0, pmt_count = 0;
  bool pat_crc_ok = true, pmt_crc_ok = true;
  std::vector<uint8_t> program_descriptors;
  std::vector<EsInfo> streams;
  std::map<int, Pid> pids;
  std::vector<std::pair<int64_t, double>> pcrs;  // packet index, 27 MHz / 300
  // Arrival of the start of packet i (90 kHz), from the PCRs around it.
  double arrival(double packet) const;
};

uint32_t crc32_bitwise(const uint8_t* d, size_t n);
File read(const std::vector<uint8_t>& data);

}  // namespace tsr
