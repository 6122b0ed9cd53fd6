// The time-stamp table of joined recordings from arbitrary bytes: built at
// every open; then looked up at every offset and used by GOP times.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "demux/transport_demuxer.h"
#include "tests/fuzz/fuzz_temp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  const FuzzTempFile file(data, size);
  if (!file.path()) return 0;
  int err = 0;
  DeMuxerTransport d(file.path(), &err, 4000000);
  if (!err) {
    for (uint64_t at = 0; at <= size; at += 997) (void)d.lookup_offset_table(FileOffset::from_u64(at));
    d.get_total_length();
    DeMuxerTransport copy(d);
    std::vector<TimeStampPart> parts;
    copy.get_time_stamp_parts(&parts);
  }
  return 0;
}
