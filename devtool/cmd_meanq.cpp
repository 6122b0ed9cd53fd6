// meanq FILE: mean quantiser per picture type of a video elementary stream
// (quantiser_scale values; MPEG-1 codes doubled).
#include <cstdio>
#include <vector>

#include "devtool/command.h"
#include "encode/mean_quant.h"

namespace {

int run_meanq(int argc, char** argv) {
  if (argc != 2) return dev_bad_count("meanq", argc);
  FILE* f = std::fopen(argv[1], "rb");
  if (!f) return dev_fail("<%s>: cannot open", argv[1]);
  std::vector<uint8_t> data;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  const bool read_error = std::ferror(f) != 0;
  std::fclose(f);
  if (read_error) return dev_fail("<%s>: read failed", argv[1]);
  data.resize(data.size() + 64, 0);  // readable padding for the decoder
  int error = 1;
  MeanQuantizer mq(data.data(), data.size() - 64, &error);
  std::printf("meanq i=%.3f p=%.3f b=%.3f i_pictures=%u p_pictures=%u b_pictures=%u error=%d\n", mq.mean(0), mq.mean(1),
              mq.mean(2), mq.count[0], mq.count[1], mq.count[2], error);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(meanq, "FILE", "mean quantiser value per picture type of a video elementary stream", run_meanq);
