// read FILE OFFSET COUNT OUT: COUNT bytes at OFFSET through the media file
// layer (plain files, lists of files and segments alike) into OUT.
#include <cstdio>
#include <memory>

#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/stream_option.h"
#include "foundation/bsfile.h"

namespace {

constexpr long long kChunk = 1 << 20;

int run_read(int argc, char** argv) {
  if (argc != 5) return dev_bad_count("read", argc);
  long long offset = 0, count = 0;
  if (!dev_parse_int(argv[2], &offset) || offset < 0) return dev_usage("read", "bad OFFSET '%s'", argv[2]);
  if (!dev_parse_int(argv[3], &count) || count < 0) return dev_usage("read", "bad COUNT '%s'", argv[3]);
  int err = 0;
  BSFile in(argv[1], 1, &err);
  if (err) return dev_fail("<%s>: cannot open to read", argv[1]);
  std::vector<std::string> inputs = {argv[1]};
  for (const auto& m : in.member_names()) inputs.push_back(m);
  if (dev_check_not_input(argv[4], inputs)) return 1;
  FILE* out = dev_open_output(argv[4]);
  if (!out) return 1;
  in.seek(FileOffset::from_u64(uint64_t(offset)), 0);
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kChunk]);
  long long got = 0;
  bool write_ok = true;
  while (got < count) {
    const size_t want = size_t(count - got < kChunk ? count - got : kChunk);
    const size_t n = in.read(buf.get(), want);
    if (n == 0) break;
    write_ok = write_ok && std::fwrite(buf.get(), 1, n, out) == n;
    got += (long long)n;
    if (n < want) break;
  }
  if (std::fclose(out) != 0 || !write_ok) return dev_fail("<%s>: cannot write", argv[4]);
  std::printf("read offset=%lld count=%lld got=%lld size=%llu\n", offset, count, got,
              (unsigned long long)in.size().value());
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(read, "FILE OFFSET COUNT OUT",
                   "COUNT bytes at OFFSET of a file, a list of files or a segment (.mbs) into OUT", run_read);
