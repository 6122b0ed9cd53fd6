// tables FILE: the PAT and the PMTs of a transport stream:
//   pat program=N pmt_pid=N
//   pmt program=N pid=N pcr_pid=N
//   es pid=N type=N stream_type=0xHH
// type is the engine's stream-type code, stream_type the PMT's own value.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "devtool/command.h"
#include "devtool/input.h"
#include "foundation/probe.h"
#include "foundation/ts_packet.h"
#include "foundation/ts_tables.h"

namespace {

// First offset where three packets in a row begin with 0x47.
int sync_start(const uint8_t* d, int n) {
  for (int i = 0; i + 2 * 188 < n && i < 188 * 64; ++i)
    if (d[i] == 0x47 && d[i + 188] == 0x47 && d[i + 376] == 0x47) return i;
  return -1;
}

// The first whole section of pid, gathered over as many packets as it
// spans; false when none is found.
bool first_section(const uint8_t* d, int n, int start, int pid, SectionAssembler* section) {
  TSPacket pkt;
  for (int pos = start; pos + 188 <= n; pos += 188) {
    if (pkt.decode(d + pos, 0) != 0 || pkt.PID != pid || !pkt.payload_unit_start_indicator) continue;
    if (section->start(d + pos + pkt.payload_start(), pkt.payload_length)) return true;
    for (int next = pos + 188; section->growing() && next + 188 <= n; next += 188) {
      if (pkt.decode(d + next, 0) != 0 || pkt.PID != pid) continue;
      if (section->add(d + next + pkt.payload_start(), pkt.payload_length, pkt.payload_unit_start_indicator))
        return true;
    }
  }
  return false;
}

// The PMT's stream_type of pid: the decoded table keeps only the engine's
// code. -1 when the entry is not found.
int pmt_stream_type(const uint8_t* sec, int length, int pid) {
  if (length < 16) return -1;
  const int section_length = ((sec[1] & 0x0F) << 8) | sec[2];
  const int end = std::min(length, 3 + section_length) - 4;  // before CRC_32
  int at = 12 + (((sec[10] & 0x0F) << 8) | sec[11]);
  while (at + 5 <= end) {
    const uint8_t* e = sec + at;
    if ((((e[1] & 0x1F) << 8) | e[2]) == pid) return e[0];
    at += 5 + (((e[3] & 0x0F) << 8) | e[4]);
  }
  return -1;
}

}  // namespace

static int run_tables(int argc, char** argv) {
  if (argc != 2) return dev_bad_count("tables", argc);
  DevInput in;
  if (!dev_input(argv[1], &in)) return 1;
  if (in.kind != InputKind::transport && in.kind != InputKind::unknown)
    return dev_fail("<%s>: not a transport stream: it is %s", argv[1], dev_kind_text(in));
  int n = 4 << 20;
  auto data = mpegfile::load_data(argv[1], &n);
  if (!data) return dev_fail("<%s>: cannot open to read", argv[1]);
  const uint8_t* d = data.get();
  const int start = sync_start(d, n);
  if (start < 0) return dev_fail("<%s>: not a transport stream", argv[1]);
  SectionAssembler sec;
  PAT pat;
  if (!first_section(d, n, start, 0, &sec) || !pat.decode(sec.data(), sec.size()))
    return dev_fail("<%s>: no readable PAT", argv[1]);
  for (int i = 0; i < pat.program_count; ++i)
    std::printf("pat program=%d pmt_pid=%d\n", pat.program_numbers[i], pat.pmt_pids[i]);
  for (int i = 0; i < pat.program_count; ++i) {
    TSPMT pmt;
    if (!first_section(d, n, start, pat.pmt_pids[i], &sec) || !pmt.decode(sec.data(), sec.size(), pat.pmt_pids[i])) {
      std::fprintf(stderr, "tamsel-dev: PMT on PID %d not readable\n", pat.pmt_pids[i]);
      continue;
    }
    std::printf("pmt program=%d pid=%d pcr_pid=%d\n", pmt.program_number, pmt.pmt_pid, pmt.PCR_PID);
    for (int k = 0; k < pmt.es_count; ++k)
      std::printf("es pid=%d type=%d stream_type=0x%02X\n", pmt.es_pids[k], pmt.es_type_codes[k],
                  pmt_stream_type(sec.data(), sec.size(), pmt.es_pids[k]));
  }
  return 0;
}

TAMSEL_DEV_COMMAND(tables, "FILE", "the PAT and the PMTs of a transport stream", run_tables);
