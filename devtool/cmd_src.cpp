// src IN.pcm IN_RATE IN_CHANNELS OUT_RATE OUT_CHANNELS OUT.pcm [--chunk FRAMES]:
// interleaved signed 16-bit little-endian PCM through convert_rate in chunks
// (1152 frames unless asked), flushed at the end; prints
//   converted in_frames=N out_frames=N
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/codec/src_convertor.h"
#include "devtool/command.h"
#include "devtool/input.h"

namespace {

int run_src(int argc, char** argv) {
  if (argc != 7 && argc != 9) return dev_bad_count("src", argc);
  long long v[4], chunk = 1152;
  const int at[4] = {2, 3, 4, 5};
  for (int i = 0; i < 4; ++i)
    if (!dev_parse_int(argv[at[i]], &v[i])) return dev_usage("src", "'%s' is not a number", argv[at[i]]);
  if (argc == 9 && (std::strcmp(argv[7], "--chunk") || !dev_parse_int(argv[8], &chunk) || chunk < 1 || chunk > (1 << 20)))
    return dev_usage("src", "--chunk takes a frame count from 1");
  if (v[1] != 1 && v[1] != 2) return dev_usage("src", "IN_CHANNELS must be 1 or 2");
  if (dev_input_readable(argv[1])) return 1;
  FILE* in = std::fopen(argv[1], "rb");
  if (!in) return dev_fail("<%s>: cannot open to read", argv[1]);
  SampleRateConvertor src{int(v[2]), int(v[3])};
  if (src.out_rate() != v[2] || src.out_channels() != v[3]) {
    std::fclose(in);
    return dev_fail("output format %lld Hz, %lld channels is not supported", v[2], v[3]);
  }
  FILE* out = dev_open_output(argv[6]);
  if (!out) {
    std::fclose(in);
    return 1;
  }
  const int ich = int(v[1]);
  std::vector<uint8_t> bytes(size_t(chunk) * ich * 2);
  std::vector<int16_t> pcm(size_t(chunk) * ich);
  // Room for the largest ratio (4x raising to 48 kHz from 12 kHz) plus the
  // held input of a format change or flush.
  std::vector<int16_t> res(size_t(chunk) * 8 * 2 + 65536);
  long long in_frames = 0, out_frames = 0;
  bool ok = true;
  auto put = [&](int n) {
    if (n < 0) return false;
    if (n == 0) return true;
    std::vector<uint8_t> b(size_t(n) * 2);
    for (int i = 0; i < n; ++i) {
      b[2 * size_t(i)] = uint8_t(res[size_t(i)] & 0xFF);
      b[2 * size_t(i) + 1] = uint8_t((uint16_t(res[size_t(i)]) >> 8) & 0xFF);
    }
    out_frames += n / src.out_channels();
    return std::fwrite(b.data(), 1, b.size(), out) == b.size();
  };
  size_t got;
  while (ok && (got = std::fread(bytes.data(), size_t(2 * ich), size_t(chunk), in)) > 0) {
    for (size_t i = 0; i < got * ich; ++i) pcm[i] = int16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    in_frames += (long long)got;
    ok = put(src.convert_rate(res.data(), int(res.size()), pcm.data(), int(got) * ich, int(v[0]), ich, false));
  }
  if (ok) ok = put(src.convert_rate(res.data(), int(res.size()), nullptr, 0, int(v[0]), ich, true));
  const bool read_error = std::ferror(in);
  std::fclose(in);
  if (std::fclose(out) != 0) ok = false;
  if (read_error) return dev_fail("<%s>: cannot read", argv[1]);
  if (!ok) return dev_fail("<%s>: conversion failed or cannot write", argv[6]);
  std::printf("converted in_frames=%lld out_frames=%lld\n", in_frames, out_frames);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(src, "IN.pcm IN_RATE IN_CHANNELS OUT_RATE OUT_CHANNELS OUT.pcm [--chunk FRAMES]",
                   "convert 16-bit little-endian PCM between sample rates and channel counts", run_src);
