// PAT and PMT sections and transport packets from arbitrary bytes; the
// sections of the packets are gathered over as many packets of their PID
// as they span.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "foundation/ts_packet.h"
#include "foundation/ts_tables.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) size = 1u << 20;
  const int n = static_cast<int>(size);
  PAT pat;
  (void)pat.decode(data, n);
  PAT pat_copy;
  pat_copy = pat;
  pat_copy.get_packet();
  TSPMT pmt;
  (void)pmt.decode(data, n, 0x1000);
  TSPMT pmt_copy;
  pmt_copy = pmt;

  // Packets: whole ones in place, the tail padded to a full packet.
  TSPacket pkt;
  SectionAssembler section;
  int section_pid = -1;
  for (size_t pos = 0; pos < size; pos += 188) {
    uint8_t tail[188];
    const uint8_t* p = data + pos;
    if (size - pos < 188) {
      std::memset(tail, 0xFF, sizeof tail);
      std::memcpy(tail, p, size - pos);
      p = tail;
    }
    if (pkt.decode(p, 1) != 0) continue;
    const uint8_t* payload = p + pkt.payload_start();
    bool whole = false;
    if (pkt.PID == section_pid && section.growing())
      whole = section.add(payload, pkt.payload_length, pkt.payload_unit_start_indicator);
    else if (pkt.payload_unit_start_indicator)
      whole = section.start(payload, pkt.payload_length), section_pid = pkt.PID;
    if (section.size() > 4096) __builtin_trap();
    if (whole) {
      if (section.size() < 3 || section.size() != 3 + (((section.data()[1] & 0x0F) << 8) | section.data()[2]))
        __builtin_trap();
      PAT t;
      (void)t.decode(section.data(), section.size());
      TSPMT m;
      (void)m.decode(section.data(), section.size(), pkt.PID);
    }
    if (pkt.payload_unit_start_indicator && pkt.payload_length > 1) {
      const int start = pkt.payload_start();
      const int sec = start + 1 + p[start];
      if (sec < 188) {
        PAT t;
        (void)t.decode(p + sec, 188 - sec);
        TSPMT m;
        (void)m.decode(p + sec, 188 - sec, pkt.PID);
      }
    }
  }
  return 0;
}
