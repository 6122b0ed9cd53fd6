// The transport packet walk with PES headers over arbitrary bytes: opening
// (tables or the PES scan), next_packet with its payload, and the PES
// header parser on every offset of the input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "demux/transport_demuxer.h"
#include "tests/fuzz/fuzz_temp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  DeMuxerTransport::PesHeader h;
  for (size_t i = 0; i + 1 < size && i < 4096; ++i)
    (void)DeMuxerTransport::parse_pes_header(data + i, int(std::min<size_t>(size - i, 200)), &h);
  const FuzzTempFile file(data, size);
  if (!file.path()) return 0;
  int err = 0;
  // A bit rate given: the bytes are taken as a transport stream unprobed.
  DeMuxerTransport d(file.path(), &err, 4000000);
  if (!err) {
    std::vector<uint8_t> buf(1 << 16);
    d.goto_offset(FileOffset(0u));
    for (int k = 0; k < 100000; ++k) {
      const int id = d.next_packet();
      if (id) {
        d.get_payload(buf.data(), int(buf.size()));
      } else if (d.get_next_status() == DeMuxerTransport::NextStatus::end) {
        break;
      } else {
        d.skip_packet();
      }
    }
  }
  return 0;
}
