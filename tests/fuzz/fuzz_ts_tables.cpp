// Program tables taken from an arbitrary source file by a transport
// output (TSMux::set_psi_sections), then a short mux of the source's bytes
// as video and audio so the tables are built and written.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "foundation/es_data.h"
#include "fuzz_temp_file.h"
#include "mux/tsmux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) size = 1u << 20;
  FuzzTempFile source(data, size);
  if (!source.path()) return 0;
  ESData es[3];
  es[0].kind = ES_KIND_MPEG2_VIDEO;
  es[0].stream_id = 0xE0;
  es[1].kind = ES_KIND_MPEG_AUDIO;
  es[1].stream_id = 0xC0;
  es[2].kind = ES_KIND_AC3;
  es[2].ac3 = 1;
  es[2].stream_id = 0x80;
  int failed = 1;
  auto m = std::make_unique<TSMux>(3, es, "/dev/null", &failed, 0);
  if (failed) return 0;
  (void)m->set_psi_sections(source.path());
  const size_t piece = size < 4096 ? size : 4096;
  if (piece > 0) {
    m->add_es_data(0xE0, data, static_cast<int>(piece), 0);
    m->add_es_data(0xC0, data + size - piece, static_cast<int>(piece), 0);
  }
  m->set_stream_end(0xE0, 0);
  m->finish();
  return 0;
}
