// mix OP LENGTH RATE CHANNELS IN1.s16 [IN2.s16] OUT.s16 [--block N]: runs a
// mixer operation over raw 16-bit interleaved PCM, block k (N samples per
// channel) at time k*N/RATE of a LENGTH-second span:
//   mix op=N kind=N blocks=N name=NAME
// mix --list prints every operation: mixer id=N kind=N name=NAME
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "devtool/command.h"
#include "engine/clips/mixer.h"

namespace {

// Whole count unless the file ends; -1 on an error.
ssize_t read_full(int fd, void* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t r = read(fd, static_cast<char*>(buf) + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += size_t(r);
  }
  return ssize_t(done);
}

bool write_full(int fd, const void* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t r = write(fd, static_cast<const char*>(buf) + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    done += size_t(r);
  }
  return true;
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

  // Streams the files a chunk of blocks at a time, mixing in place.
  const int in1_fd = open(args[4], O_RDONLY);
  if (in1_fd < 0) return dev_fail("mix: <%s>: cannot read", args[4]);
  const int in2_fd = two ? open(args[5], O_RDONLY) : -1;
  if (two && in2_fd < 0) {
    close(in1_fd);
    return dev_fail("mix: <%s>: cannot read", args[5]);
  }
  const char* out_name = args.back();
  const int out_fd = open(out_name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out_fd < 0) {
    close(in1_fd);
    if (in2_fd >= 0) close(in2_fd);
    return dev_fail("mix: <%s>: cannot create", out_name);
  }
  const size_t step = size_t(block * channels);
  const size_t chunk_blocks = std::max<size_t>(1, (size_t(1) << 19) / step);
  std::vector<short> a(chunk_blocks * step), b(two ? chunk_blocks * step : 0);
  size_t blocks = 0;
  bool failed = false, eof = false;
  while (!eof && !failed) {
    const size_t want = a.size() * 2;
    const ssize_t got = read_full(in1_fd, a.data(), want);
    if (got < 0) {
      failed = true;
      break;
    }
    eof = size_t(got) < want;
    const size_t samples = size_t(got) / 2;
    if (samples == 0) break;
    const size_t nb = (samples + step - 1) / step;
    // A last part block is padded with silence for the operation only.
    std::fill(a.begin() + long(samples), a.begin() + long(nb * step), 0);
    if (two) {
      const ssize_t got2 = read_full(in2_fd, b.data(), nb * step * 2);
      if (got2 < 0) {
        failed = true;
        break;
      }
      // The second track is silent past its end.
      std::fill(b.begin() + got2 / 2, b.begin() + long(nb * step), 0);
    }
    for (size_t k = 0; k < nb; ++k) {
      const double t = double(blocks + k) * double(block) / double(rate);
      short* p = a.data() + k * step;
      f(t, length, int(step), p, p, two ? b.data() + k * step : nullptr, nullptr);
    }
    blocks += nb;
    if (!write_full(out_fd, a.data(), samples * 2)) failed = true;
  }
  close(in1_fd);
  if (in2_fd >= 0) close(in2_fd);
  if (close(out_fd) != 0) failed = true;
  if (failed) return dev_fail("mix: <%s>: read or write failed", out_name);
  int n = 0;
  std::printf("mix op=%lld kind=%d blocks=%zu name=%s\n", op, kind, blocks, mixer_op_get_names(&n)[op]);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(mix, "OP LENGTH RATE CHANNELS IN1.s16 [IN2.s16] OUT.s16 [--block N] | --list",
                   "audio mixer operation over raw 16-bit PCM", run_mix);
