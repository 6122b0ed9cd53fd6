// Transport-stream engine over arbitrary bytes: the first byte picks the
// audio kind and the piece size; the rest is fed as the video and, shifted,
// as the audio of a transport stream written to /dev/null.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "foundation/es_data.h"
#include "mux/tsmux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool ac3 = data[0] & 1;
  const bool mpeg1 = data[0] & 2;
  const size_t chunk = 1 + (data[0] >> 1) * 131;
  ++data;
  --size;
  ESData pair[2];
  pair[0].kind = mpeg1 ? ES_KIND_MPEG1_VIDEO : ES_KIND_MPEG2_VIDEO;
  pair[0].stream_id = 0xE0;
  if (ac3)
    pair[1].kind = ES_KIND_AC3, pair[1].ac3 = 1, pair[1].stream_id = 0x80;
  else
    pair[1].kind = ES_KIND_MPEG_AUDIO, pair[1].stream_id = 0xC0;
  int failed = 1;
  auto m = std::make_unique<TSMux>(2, pair, "/dev/null", &failed, 0);
  if (failed) return 0;
  const size_t shift = size / 3;
  for (size_t at = 0; at < size; at += chunk) {
    const int n = static_cast<int>(size - at < chunk ? size - at : chunk);
    m->add_es_data(0xE0, data + at, n, 0);
    const size_t a = (at + shift) % size;
    const int k = static_cast<int>(size - a < size_t(n) ? size - a : size_t(n));
    m->add_es_data(pair[1].stream_id, data + a, k, 0);
  }
  m->set_stream_end(0xE0, 0);
  m->finish();
  return 0;
}
