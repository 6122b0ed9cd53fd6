// Start-code scan: every start code of a span found at the same offset by
// every level, walked as the cursor walks them (each search resuming at the
// code byte of the last find, so at every alignment of what is left);
// spans with none, one or many codes, runs of zeros before a 01, codes at
// offset 0 and at the last offset a code fits, prefixes cut off by the end;
// every length from 0 to 300 at every alignment, each span in an allocation
// that ends with it so that the address sanitizer sees a read past it.
#include <string>
#include <vector>

#include "checkasm.h"
#include "foundation/start_code.h"

namespace {

using checkasm::Source;
using ScanFn = int64_t (*)(const uint8_t* data, int64_t length);

// The meaning of a scan, written the slow way.
int64_t first_code(const uint8_t* d, int64_t n) {
  for (int64_t i = 0; i + 4 <= n; ++i)
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) return i;
  return -1;
}

// Every offset a walk from the start finds.
std::vector<int64_t> walk(ScanFn scan, const uint8_t* d, int64_t n) {
  std::vector<int64_t> at;
  for (int64_t from = 0; n - from >= 4;) {
    const int64_t k = scan(d + from, n - from);
    if (k < 0) break;
    at.push_back(from + k);
    from += k + 3;
  }
  return at;
}

std::string offsets(const std::vector<int64_t>& v) {
  std::string s;
  for (size_t i = 0; i < v.size() && i < 12; ++i) s += (i ? " " : "") + std::to_string(v[i]);
  if (v.size() > 12) s += " ...";
  return s.empty() ? "none" : s;
}

// What the span holds. Coded data is mostly free of zero pairs; the near
// kinds are the bytes a scan must look at twice.
enum class Content { none, near, one, dense, zero_runs, at_start, at_last, cut_off, all_zero, all_one };
const char* const kContentNames[] = {
    "no code",   "near misses only",        "one code",       "dense codes", "zero runs",
    "code at 0", "code at the last offset", "prefix cut off", "all 00",      "all 01"};
constexpr Content kContents[] = {Content::none,      Content::near,     Content::one,     Content::dense,
                                 Content::zero_runs, Content::at_start, Content::at_last, Content::cut_off,
                                 Content::all_zero,  Content::all_one};

// Turns every 00 00 01 into 00 00 02 (which makes no new one).
void break_codes(uint8_t* d, int64_t n) {
  for (int64_t i = 2; i < n; ++i)
    if (d[i - 2] == 0 && d[i - 1] == 0 && d[i] == 1) d[i] = 2;
}

void put_code(uint8_t* d, int64_t n, int64_t at, uint8_t code) {
  const uint8_t bytes[4] = {0, 0, 1, code};
  for (int k = 0; k < 4; ++k)
    if (at + k >= 0 && at + k < n) d[at + k] = bytes[k];
}

void make(Content what, uint8_t* d, int64_t n, std::mt19937& rng) {
  // Zeros and 01s half the time: prefixes, 00 01, 00 00 02 everywhere.
  auto near_byte = [&] {
    const uint32_t r = rng() % 8;
    return static_cast<uint8_t>(r < 3 ? 0 : r == 3 ? 1 : r == 4 ? 2 : rng());
  };
  auto coded_byte = [&] { return static_cast<uint8_t>(rng() % 16 == 0 ? 0 : rng()); };
  const uint8_t code = static_cast<uint8_t>(rng());
  switch (what) {
    case Content::none:
      for (int64_t i = 0; i < n; ++i) d[i] = coded_byte();
      break_codes(d, n);
      break;
    case Content::near:
      for (int64_t i = 0; i < n; ++i) d[i] = near_byte();
      break_codes(d, n);
      break;
    case Content::one:
      for (int64_t i = 0; i < n; ++i) d[i] = coded_byte();
      break_codes(d, n);
      if (n >= 4) put_code(d, n, static_cast<int64_t>(rng() % static_cast<uint32_t>(n - 3)), code);
      break;
    case Content::dense:
      for (int64_t i = 0; i < n; ++i) d[i] = near_byte();
      for (int64_t i = 0; i + 4 <= n; i += 4 + static_cast<int64_t>(rng() % 6)) put_code(d, n, i, code);
      break;
    case Content::zero_runs:  // 00 00 00 ... 01, runs of every length
      for (int64_t i = 0; i < n;) {
        const int64_t run = static_cast<int64_t>(rng() % 70);
        for (int64_t k = 0; k < run && i < n; ++k) d[i++] = 0;
        if (i < n) d[i++] = rng() % 4 ? 1 : 0x80;
        if (i < n) d[i++] = static_cast<uint8_t>(rng());
      }
      break;
    case Content::at_start:
    case Content::at_last:
    case Content::cut_off:
      for (int64_t i = 0; i < n; ++i) d[i] = coded_byte();
      break_codes(d, n);
      // cut_off: 00 00 01 as the last three bytes, no room for the code byte
      put_code(d, n, what == Content::at_start ? 0 : what == Content::at_last ? n - 4 : n - 3, code);
      break;
    case Content::all_zero:
    case Content::all_one:
      for (int64_t i = 0; i < n; ++i) d[i] = what == Content::all_one ? 1 : 0;
      break;
  }
}

// One span: the candidate's walk against the plain one's, and the plain
// scan against its meaning.
bool one(checkasm::Checker<StartCodeDsp>& c, const checkasm::Kernel<ScanFn>& k, Content what, int64_t n, int align) {
  Source span(static_cast<size_t>(n), align);
  make(what, span.data(), n, c.rng());
  const uint8_t* d = span.data();
  const char* name = kContentNames[static_cast<int>(what)];
  const int64_t want = first_code(d, n);
  if (k.ref(d, n) != want)
    return c.fail("the plain scan finds %lld, not %lld; %s, length %lld", static_cast<long long>(k.ref(d, n)),
                  static_cast<long long>(want), name, static_cast<long long>(n));
  const std::vector<int64_t> ref = walk(k.ref, d, n), cand = walk(k.cand, d, n);
  if (ref != cand)
    return c.fail("finds %s where plain finds %s; %s, length %lld, alignment %d", offsets(cand).c_str(),
                  offsets(ref).c_str(), name, static_cast<long long>(n), align);
  return true;
}

void check_start_code(checkasm::Checker<StartCodeDsp>& c) {
  const auto k = c.kernel("scan", &StartCodeDsp::scan);
  if (!k) return;
  for (int64_t n : {0, 100})
    if (k.ref(nullptr, n) != -1 || k.cand(nullptr, n) != -1) {
      c.fail("no data and length %lld give %lld (plain %lld), not -1", static_cast<long long>(n),
             static_cast<long long>(k.cand(nullptr, n)), static_cast<long long>(k.ref(nullptr, n)));
      return;
    }
  for (int64_t n = 0; n <= 300; ++n)
    for (Content what : kContents)
      for (int align = 0; align < 64; align += 7)
        if (!one(c, k, what, n, (align + static_cast<int>(n)) % 64)) return;
  // Every alignment, around the ends of the 32- and 64-byte rounds.
  for (int align = 0; align < 64; ++align)
    for (int64_t n : {4, 34, 35, 36, 66, 67, 68, 131, 132, 4099})
      for (Content what : kContents)
        if (!one(c, k, what, n, align)) return;
  // One code at every offset of a few lengths; 00 00 01 cut off at the end.
  for (int64_t n : {35, 67, 100, 197}) {
    for (int64_t at = 0; at <= n - 3; ++at) {
      Source span(static_cast<size_t>(n), static_cast<int>(at % 64));
      uint8_t* d = span.data();
      make(Content::none, d, n, c.rng());
      put_code(d, n, at, 0xB3);
      const int64_t want = at + 4 <= n ? at : -1;
      const int64_t ref = k.ref(d, n), cand = k.cand(d, n);
      if (ref != want || cand != want) {
        c.fail("one code at %lld of %lld bytes: found at %lld (plain %lld)", static_cast<long long>(at),
               static_cast<long long>(n), static_cast<long long>(cand), static_cast<long long>(ref));
        return;
      }
    }
  }
  // A slice's worth of coded data with the next code at its end.
  std::vector<uint8_t> slice(16384);
  make(Content::none, slice.data(), static_cast<int64_t>(slice.size()), c.rng());
  put_code(slice.data(), static_cast<int64_t>(slice.size()), static_cast<int64_t>(slice.size()) - 4, 0x02);
  c.bench([&] { k.cand(slice.data(), static_cast<int64_t>(slice.size())); });
}

checkasm::Family<StartCodeDsp> family("StartCodeDsp", start_code_dsp_for, check_start_code);

}  // namespace
