// QuickTime atoms on arbitrary bytes (the 'moov' tree and sample lookups),
// and the movie reader on the bytes as a file when they look like a movie.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/qt_atoms.h"
#include "formats/qt_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  uint32_t type = 0;
  const size_t at = qt_find_atom(data, size < 1024 ? size : 1024, &type);
  // The tree from the first 'moov' type code onwards.
  for (size_t i = 0; i + 8 <= size; ++i) {
    if (qt_get32(data + i + 4) != qt_fourcc("moov")) continue;
    QT_Moov moov;
    if (moov.decode(data + i, size - i)) {
      for (uint32_t kind : {kQtVideoTrack, kQtSoundTrack}) {
        QT_Mdia* m = moov.find_track(kind);
        if (!m || !m->minf || !m->minf->stbl) continue;
        uint32_t sz = 0;
        for (int64_t n : {int64_t{-1}, int64_t{0}, int64_t{1}, int64_t{7}, m->minf->stbl->get_sample_count(),
                          int64_t{1} << 40})
          m->minf->stbl->get_sample_offset(n, &sz);
      }
      moov.get_format(kQtVideoTrack);
    }
    break;
  }
  if ((type == qt_fourcc("moov") || type == qt_fourcc("mdat")) && at < 1024 && size <= (256u << 10)) {
    const std::string path = "/tmp/fuzz_qt_" + std::to_string(getpid()) + ".mov";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(data, 1, size, f);
      std::fclose(f);
      int status = 1;
      {
        QT_Decoder qt(path.c_str(), &status);
        if (status == 0) {
          YuvPlanes none;
          qt.forward_planes(nullptr, 1);
          qt.backward_planes(nullptr, 5);
          qt.goto_sample_planes(qt.total_samples - 1, nullptr);
          (void)none;
        }
      }
      std::remove(path.c_str());
    }
  }
  return 0;
}
