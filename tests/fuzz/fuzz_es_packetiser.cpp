// Packetiser and program-stream muxer over arbitrary bytes: the first byte
// picks the stream kind and the piece size; the rest is stored, cut into
// packets by the packetiser's own queries, then muxed with a second copy as
// the other stream of an MPEG-2 program stream written to /dev/null.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/es_data.h"
#include "mux/es.h"
#include "mux/psmux.h"

namespace {

ESData record_of(int kind) {
  ESData d;
  switch (kind) {
    case 0: d.kind = ES_KIND_MPEG2_VIDEO, d.stream_id = 0xE0; break;
    case 1: d.kind = ES_KIND_MPEG1_VIDEO, d.stream_id = 0xE1; break;
    case 2: d.kind = ES_KIND_MPEG_AUDIO, d.stream_id = 0xC0; break;
    case 3: d.kind = ES_KIND_AC3, d.ac3 = 1, d.stream_id = 0x80; break;
    default: d.set_lpcm_header(0xA0, 48000, 2); break;
  }
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int kind = data[0] % 5;
  const size_t chunk = 1 + (data[0] >> 3) * 97;
  ++data;
  --size;
  const ESData rec = record_of(kind);

  ES es(MUX_MPEG2_PROGRAM, rec, 2025, 1);
  es.set_buffer_size(8192);
  std::vector<uint8_t> out(4096);
  double clock = 0;
  for (size_t at = 0; at <= size; at += chunk) {
    const int n = static_cast<int>(size - at < chunk ? size - at : chunk);
    if (n > 0) es.store_data(data + at, n);
    if (at + chunk > size) es.set_end();
    for (int guard = 0; guard < 64 && es.deliverable() > 0; ++guard) {
      double pts = 0, dts = 0;
      const int64_t n2 = es.deliverable() < 2000 ? es.deliverable() : 2000;
      es.next_stamp(n2, &pts, &dts);
      es.next_sequence_header(n2);
      const int got = es.next_packet(clock, out.data(), static_cast<int>(out.size()), 2000);
      if (got < 0 || got > 2000) __builtin_trap();
      if (got == 0) clock = es.next_removal(clock) < 1e300 ? es.next_removal(clock) : clock + 3600;
      if (es.ts_kind() == TS_PTS_DTS && es.dts() > es.pts()) __builtin_trap();
    }
  }

  // Both kinds of stream through the muxer.
  ESData pair[2] = {record_of(0), rec};
  if (kind == 0) pair[1] = record_of(2);
  int failed = 1;
  auto m = std::make_unique<PSMux>(MUX_MPEG2_PROGRAM, 2, pair, "/dev/null", &failed, 0);
  if (failed) return 0;
  for (size_t at = 0; at < size; at += chunk) {
    const int n = static_cast<int>(size - at < chunk ? size - at : chunk);
    m->add_es_data(pair[0].stream_id, data + at, n, 0);
    m->add_es_data(pair[1].stream_id, data + at, n, 0);
  }
  m->finish();
  return 0;
}
