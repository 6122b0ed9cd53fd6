// mix OP LENGTH RATE CHANNELS IN1.s16 [IN2.s16] OUT.s16 [--block N]: runs a
// mixer operation over raw 16-bit interleaved PCM, block k (N samples per
// channel) at time k*N/RATE of a LENGTH-second span:
//   mix op=N kind=N blocks=N name=NAME
// mix --list prints every operation: mixer id=N kind=N name=NAME
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "devtool/command.h"
#include "engine/clips/mixer.h"

namespace {

bool read_all(const char* name, std::vector<short>* out) {
  FILE* f = std::fopen(name, "rb");
  if (!f) return false;
  std::vector<char> bytes;
  char buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  out->assign(bytes.size() / 2, 0);
  if (!out->empty()) std::memcpy(out->data(), bytes.data(), out->size() * 2);
  return ok;
}

int run_mix(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    for (int id = 0; id < mixer_op_get_count(); ++id) {
      int n = 0;
      const char* const* names = mixer_op_get_names(&n);
      std::printf("mixer id=%d kind=%d name=%s\n", id, mixer_op_get_kind(id), names[id]);
    }
    return 0;
  }
  long long block = 1152;
  std::vector<char*> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--block") == 0) {
      if (i + 1 >= argc || !dev_parse_int(argv[i + 1], &block) || block < 1 || block > (1 << 20))
        return dev_usage("mix", "--block takes a sample count from 1 to 1048576");
      ++i;
    } else {
      args.push_back(argv[i]);
    }
  }
  if (args.size() != 6 && args.size() != 7) return dev_usage("mix", "wrong number of arguments");
  long long op = 0, rate = 0, channels = 0;
  double length = 0;
  char* end = nullptr;
  if (!dev_parse_int(args[0], &op)) return dev_usage("mix", "OP must be a mixer id");
  length = std::strtod(args[1], &end);
  if (!end || *end) return dev_usage("mix", "LENGTH must be seconds");
  if (!dev_parse_int(args[2], &rate) || rate < 1 || rate > 1000000) return dev_usage("mix", "bad RATE");
  if (!dev_parse_int(args[3], &channels) || channels < 1 || channels > 8) return dev_usage("mix", "bad CHANNELS");
  const MixerOp f = mixer_op_get_function(int(op));
  if (!f) return dev_fail("mix: no mixer operation %lld (see mix --list)", op);
  const int kind = mixer_op_get_kind(int(op));
  const bool two = args.size() == 7;
  if (kind == 2 && !two) return dev_usage("mix", "operation %lld mixes two tracks: give IN1 and IN2", op);
  if (kind == 1 && two) return dev_usage("mix", "operation %lld takes one track", op);

  std::vector<short> in1, in2;
  if (!read_all(args[4], &in1)) return dev_fail("mix: <%s>: cannot read", args[4]);
  if (two && !read_all(args[5], &in2)) return dev_fail("mix: <%s>: cannot read", args[5]);
  const size_t in_samples = in1.size();
  const size_t step = size_t(block * channels);
  const size_t blocks = (in1.size() + step - 1) / step;
  // The second track is silent past its end.
  if (two) in2.resize(blocks * step, 0);
  in1.resize(blocks * step, 0);
  const size_t samples = in1.size();
  std::vector<short> out(samples);
  for (size_t k = 0; k < blocks; ++k) {
    const double t = double(k) * double(block) / double(rate);
    f(t, length, int(step), out.data() + k * step, in1.data() + k * step, two ? in2.data() + k * step : nullptr,
      nullptr);
  }
  const char* out_name = args.back();
  FILE* o = std::fopen(out_name, "wb");
  if (!o) return dev_fail("mix: <%s>: cannot create", out_name);
  // The output keeps the input's length.
  const size_t keep = in_samples;
  const bool ok = std::fwrite(out.data(), 2, keep, o) == keep;
  if (std::fclose(o) != 0 || !ok) return dev_fail("mix: <%s>: write failed", out_name);
  int n = 0;
  std::printf("mix op=%lld kind=%d blocks=%zu name=%s\n", op, kind, blocks, mixer_op_get_names(&n)[op]);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(mix, "OP LENGTH RATE CHANNELS IN1.s16 [IN2.s16] OUT.s16 [--block N] | --list",
                   "audio mixer operation over raw 16-bit PCM", run_mix);
