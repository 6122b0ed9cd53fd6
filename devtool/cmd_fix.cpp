// fix FILE [--out OUT] [--scan-only]: scans the GOP time codes in steps,
// then rewrites the wrong ones in place or into OUT:
//   tcerror index=N offset=N start=N count=N found=HH:MM:SS:FF expected=HH:MM:SS:FF
//   abserror index=N offset=N pts=N
//   fixscan gops=N errors=N long_gops=N audio_errors=N
//   fixed records=N audio=N
#include <cstdio>
#include <string>
#include <vector>

#include "demux/gop_fixer.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/stream_option.h"

namespace {

int run_fix(int argc, char** argv) {
  if (argc < 2 || argc > 5) return dev_bad_count("fix", argc);
  const char* name = argv[1];
  const char* out = nullptr;
  bool scan_only = false;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--scan-only") scan_only = true;
    else if (a == "--out" && i + 1 < argc) out = argv[++i];
    else return dev_usage("fix", "unknown option '%s'", argv[i]);
  }
  if (dev_input_of(name, {InputKind::video, InputKind::program, InputKind::transport},
                   "a video elementary, program or transport stream", false))
    return 1;
  if (out && dev_check_not_input(out, {name})) return 1;
  GopFixer f;
  if (f.init(name)) return dev_fail("<%s>: cannot check its time codes", name);
  JobControl control;
  if (f.scan_job(&control) != 0) return dev_fail("%s", control.message().c_str());
  const auto& e = f.errors();
  for (size_t i = 0; i < e.size(); ++i) {
    char found[SMPTE_TEXT_SIZE], expected[SMPTE_TEXT_SIZE];
    std::printf("tcerror index=%zu offset=%llu start=%llu count=%d found=%s expected=%s\n", i,
                (unsigned long long)e[i].offset.value(), (unsigned long long)e[i].start.value(), e[i].count,
                e[i].found.to_string(found), e[i].expected.to_string(expected));
  }
  const auto& a = f.abs_errors();
  for (size_t i = 0; i < a.size(); ++i)
    std::printf("abserror index=%zu offset=%llu pts=%.0f\n", i, (unsigned long long)a[i].offset.value(), a[i].pts);
  std::printf("fixscan gops=%d errors=%d long_gops=%d audio_errors=%d\n", f.get_gop_count(), f.get_error_count(),
              f.get_long_gop_count(), f.get_abs_error_count());
  if (scan_only) return 0;
  if (out) f.set_out_fname(out);
  control.reset();
  if (f.fix_job(&control) != 0) return dev_fail("%s", control.message().c_str());
  // Nothing to fix still makes the copy asked for.
  if (out && f.get_error_count() == 0 && f.get_abs_error_count() == 0) {
    FILE* in = std::fopen(name, "rb");
    FILE* o = std::fopen(out, "wb");
    bool ok = in && o;
    std::vector<char> b(1 << 16);
    while (ok) {
      const size_t n = std::fread(b.data(), 1, b.size(), in);
      if (n == 0) break;
      ok = std::fwrite(b.data(), 1, n, o) == n;
    }
    if (in) std::fclose(in);
    if (o && std::fclose(o) != 0) ok = false;
    if (!ok) return dev_fail("<%s>: the copy failed", out);
  }
  std::printf("fixed records=%d audio=%d\n", f.get_error_fix_count(), f.get_abs_fix_count());
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(fix, "FILE [--out OUT] [--scan-only]",
                   "checks the GOP time codes against the fields shown and rewrites wrong ones in place or into OUT",
                   run_fix);
