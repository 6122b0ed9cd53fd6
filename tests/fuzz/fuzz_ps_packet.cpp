// Program-stream packets of arbitrary bytes: every packet read and stepped
// over, its sub-stream and payload taken, as MPEG-1 and MPEG-2 files.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "demux/program.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  char tmpl[] = "/tmp/fuzz_ps_packetXXXXXX";
  const int fd = mkstemp(tmpl);
  if (fd < 0) return 0;
  if (size && write(fd, data, size) != ssize_t(size)) {
    close(fd);
    unlink(tmpl);
    return 0;
  }
  close(fd);
  std::vector<uint8_t> payload(1 << 17);
  for (int type : {4, 6}) {
    int err = 0;
    DeMuxerProgram d(tmpl, &err, type, 4000000, 1);
    d.goto_offset(FileOffset(0u));
    for (int selected : {0, 1}) {
      d.goto_offset(FileOffset(0u));
      for (int n = 0; n < 20000; ++n) {
        const int r = d.next_ps_packet(selected);
        if (!(r & DeMuxerProgram::kPesFound)) break;
        if (n % 3 == 0) d.detect_sub_stream();
        if (n % 2 == 0 && d.get_payload_size() > 0) {
          d.get_payload(payload.data(), int(payload.size()));
        } else if (!d.skip_packet()) {
          break;
        }
      }
    }
  }
  unlink(tmpl);
  return 0;
}
