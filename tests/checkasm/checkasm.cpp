#include "checkasm.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace checkasm {

namespace {

uint32_t base_seed() {
  static const uint32_t seed = [] {
    const char* env = std::getenv("TAMSEL_CHECKASM_SEED");
    return env ? static_cast<uint32_t>(std::strtoul(env, nullptr, 0)) : 1u;
  }();
  return seed;
}

std::string vformat(const char* fmt, va_list ap) {
  char buf[512];
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  return buf;
}

// Place of a byte `off` past the origin, for messages: before the first
// row it is row 0 at a negative column, after the last row that row at a
// column past the width.
void row_column(ptrdiff_t off, int stride, int rows, int* row, int* column) {
  const ptrdiff_t last = static_cast<ptrdiff_t>(rows - 1) * stride;
  if (off < 0 || off >= last) {
    *row = off < 0 ? 0 : rows - 1;
    *column = static_cast<int>(off < 0 ? off : off - last);
    return;
  }
  *row = static_cast<int>(off / stride);
  *column = static_cast<int>(off % stride);
}

}  // namespace

// ---- buffers ----

Canvas::Canvas(int width, int rows, int stride, int align, uint32_t seed)
    : width_(width), rows_(rows), stride_(stride), seed_(seed) {
  const size_t lead = kGuard + static_cast<size_t>(align & 63);
  span_ = lead + static_cast<size_t>(rows - 1) * stride + width + kGuard;
  store_.resize(span_ + 64);
  base_ = store_.data() + (64 - reinterpret_cast<uintptr_t>(store_.data()) % 64) % 64;
  origin_ = base_ + lead;
  for (size_t i = 0; i < span_; ++i) base_[i] = pattern(i);
}

uint8_t Canvas::pattern(size_t i) const {
  uint32_t h = static_cast<uint32_t>(i) * 0x9E3779B1u ^ seed_ * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  return static_cast<uint8_t>(h >> 24);
}

bool Canvas::stray_write(int* row, int* column) const {
  const ptrdiff_t lead = origin_ - base_;
  for (size_t i = 0; i < span_; ++i) {
    int r, c;
    row_column(static_cast<ptrdiff_t>(i) - lead, stride_, rows_, &r, &c);
    if (c >= 0 && c < width_) continue;
    if (base_[i] != pattern(i)) {
      *row = r;
      *column = c;
      return true;
    }
  }
  return false;
}

bool Canvas::differs(const Canvas& other, int* row, int* column) const {
  for (int r = 0; r < rows_; ++r)
    for (int c = 0; c < width_; ++c)
      if (origin_[static_cast<ptrdiff_t>(r) * stride_ + c] != other.origin_[static_cast<ptrdiff_t>(r) * other.stride_ + c]) {
        *row = r;
        *column = c;
        return true;
      }
  return false;
}

Source::Source(size_t size, int align) : size_(size) {
  void* p = nullptr;
  const size_t lead = static_cast<size_t>(align & 63);
  if (posix_memalign(&p, 64, lead + size + (size ? 0 : 1)) != 0) std::abort();
  store_.reset(static_cast<uint8_t*>(p));
  data_ = store_.get() + lead;
}

void Source::Free::operator()(uint8_t* p) const { std::free(p); }

void fill(uint8_t* p, size_t n, Fill how, std::mt19937& rng) {
  // Values at the edges of the ranges the kernels clamp to.
  static const uint8_t extremes[] = {0, 1, 15, 16, 17, 127, 128, 129, 234, 235, 236, 239, 240, 241, 254, 255};
  const uint8_t flat = static_cast<uint8_t>(rng());
  for (size_t i = 0; i < n; ++i) {
    switch (how) {
      case Fill::random: p[i] = static_cast<uint8_t>(rng()); break;
      case Fill::zero: p[i] = 0; break;
      case Fill::full: p[i] = 255; break;
      case Fill::alternate: p[i] = i & 1 ? 255 : 0; break;
      case Fill::mixed:
        p[i] = rng() % 4 == 0 ? extremes[rng() % sizeof extremes] : static_cast<uint8_t>(rng());
        break;
      case Fill::flat: p[i] = flat; break;
    }
  }
}

const char* fill_name(Fill how) {
  static const char* const names[] = {"random", "zero", "full", "alternate", "mixed", "flat"};
  return names[static_cast<int>(how)];
}

// ---- one run ----

Context::Context(Mode mode, std::string family, std::string kernel, CpuLevel level)
    : mode_(mode), family_(std::move(family)), kernel_(std::move(kernel)), level_(level), rng_(base_seed()) {}

bool Context::selects(const char* name) {
  if (mode_ == Mode::list) {
    listed.emplace_back(name);
    return false;
  }
  return kernel_ == name;
}

std::string Context::prefix() const {
  return family_ + "." + kernel_ + " " + cpu_level_name(level_) + " (seed " + std::to_string(base_seed()) + "): ";
}

bool Context::fail(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  outcome_.failures.push_back(prefix() + vformat(fmt, ap));
  va_end(ap);
  return false;
}

bool Context::same(const Canvas& ref, const Canvas& cand, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const std::string input = vformat(fmt, ap);
  va_end(ap);
  int r = 0, c = 0;
  if (ref.stray_write(&r, &c))
    return fail("the plain kernel wrote outside its destination at row %d column %d; %s", r, c, input.c_str());
  if (cand.stray_write(&r, &c))
    return fail("wrote outside its destination at row %d column %d; %s", r, c, input.c_str());
  if (ref.differs(cand, &r, &c)) return fail("differs from plain at row %d column %d; %s", r, c, input.c_str());
  return true;
}

Outcome Context::finish() {
  if (outcome_.skipped.empty() && !running_ && mode_ != Mode::list)
    fail("the check function never asked for this kernel");
  return outcome_;
}

double Context::median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// ---- registry ----

std::string FamilyBase::level_absent(CpuLevel level) {
  if (level == CpuLevel::c) return "";
  if (!TAMSEL_X86_SIMD) return "built without the x86 kernels (TAMSEL_SIMD=OFF)";
  if (level > cpu_level_supported())
    return std::string("this processor has no ") + cpu_level_name(level) + " (it runs up to " +
           cpu_level_name(cpu_level_supported()) + ")";
  return "";
}

namespace {

std::vector<const FamilyBase*>& registry() {
  static std::vector<const FamilyBase*> all;
  return all;
}

}  // namespace

const std::vector<const FamilyBase*>& families() { return registry(); }
void add_family(const FamilyBase* family) { registry().push_back(family); }

}  // namespace checkasm
