// Kernel test harness: every kernel of every family at every processor
// level, against the plain kernel of its family, with guard bytes around
// the destinations; and timings of the same calls. Inputs come from one
// seeded generator (TAMSEL_CHECKASM_SEED, default 1; failures name it).
//
// Adding a family is one file, tests/checkasm/check_<family>.cpp:
//
//   static void check_foo(checkasm::Checker<FooDsp>& c) {
//     if (auto k = c.kernel("bar", &FooDsp::bar)) {
//       // for each input (random, extreme, every width and alignment):
//       //   k.ref(...) into one Canvas, k.cand(...) into another,
//       //   then if (!c.same(a, b, "width %d", w)) return;
//       c.bench([&] { k.cand(...); });  // one typical call
//     }
//     // ...one kernel() block per member of FooDsp
//   }
//   static checkasm::Family<FooDsp> family("FooDsp", foo_dsp_for, check_foo);
//
// Kernels that read their destination (add, average) find the same pattern
// in both canvases; kernels that consume their input (a transform that
// clears its block) need a copy per call, in the timed call too.
//
// The harness turns each (family, kernel, level) into its own test case,
// FooDsp.bar_avx2, skipped with its reason when the level is absent, and
// `checkasm --bench [FooDsp]` times the same calls at every level.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/cpu.h"

namespace checkasm {

// A destination of `rows` rows of `width` bytes, `stride` apart, starting
// `align` bytes past a 64-byte boundary, with guard bytes before, after
// and between the rows. Filled with one byte pattern per seed, so that two
// canvases made alike compare equal until a kernel writes.
class Canvas {
 public:
  Canvas(int width, int rows, int stride, int align, uint32_t seed);
  uint8_t* data() { return origin_; }
  int stride() const { return stride_; }
  // First byte outside the rows x width area that no longer holds its
  // pattern: false when none; row and column (negative or past the width
  // when in a guard) otherwise.
  bool stray_write(int* row, int* column) const;
  // First byte of the area that differs from `other`'s.
  bool differs(const Canvas& other, int* row, int* column) const;

 private:
  uint8_t pattern(size_t i) const;
  static constexpr int kGuard = 64;
  int width_, rows_, stride_;
  uint32_t seed_;
  std::vector<uint8_t> store_;
  uint8_t* base_ = nullptr;    // first guard byte
  uint8_t* origin_ = nullptr;  // row 0, column 0
  size_t span_ = 0;            // guards and rows
};

// Source bytes with nothing readable past the end (the address sanitizer
// catches reads beyond it), `align` bytes past a 64-byte boundary.
class Source {
 public:
  Source(size_t size, int align);
  uint8_t* data() { return data_; }
  size_t size() const { return size_; }

 private:
  struct Free {
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t, Free> store_;
  uint8_t* data_;
  size_t size_;
};

// Byte fills the families share: random, the extremes alone, random with
// extremes mixed in, alternating 0 / 255, flat values.
enum class Fill { random, zero, full, alternate, mixed, flat };
constexpr Fill kFills[] = {Fill::random, Fill::zero, Fill::full, Fill::alternate, Fill::mixed, Fill::flat};
void fill(uint8_t* p, size_t n, Fill how, std::mt19937& rng);
const char* fill_name(Fill how);

// What one run of a family's check reports.
struct Outcome {
  std::string skipped;                // reason, when the case did not run
  std::vector<std::string> failures;  // one line each
  double ns_per_call = 0;             // with timing on
};

enum class Mode { list, test, bench };

// The family-independent part of a check run.
class Context {
 public:
  Context(Mode mode, std::string family, std::string kernel, CpuLevel level);
  CpuLevel level() const { return level_; }
  Mode mode() const { return mode_; }
  std::mt19937& rng() { return rng_; }
  // Records a failure of the kernel under test; returns false so that a
  // check can `return c.fail(...)`.
  bool fail(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  bool failed() const { return !outcome_.failures.empty(); }
  // Compares the plain kernel's canvas with the candidate's: both must keep
  // their guards and agree on every byte. `fmt` describes the input.
  bool same(const Canvas& ref, const Canvas& cand, const char* fmt, ...) __attribute__((format(printf, 4, 5)));
  // Times `call` (a typical call of the kernel under test) in bench mode;
  // nothing otherwise.
  template <class F>
  void bench(F&& call) {
    if (mode_ != Mode::bench || !running_) return;
    for (int i = 0; i < 16; ++i) call();
    int n = 1;
    for (;;) {  // a batch long enough for the clock
      const auto t0 = std::chrono::steady_clock::now();
      for (int i = 0; i < n; ++i) call();
      const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
      if (ns > 2e5 || n >= (1 << 24)) break;
      n *= 2;
    }
    std::vector<double> per_call;
    for (int b = 0; b < 15; ++b) {
      const auto t0 = std::chrono::steady_clock::now();
      for (int i = 0; i < n; ++i) call();
      per_call.push_back(std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count() / n);
    }
    outcome_.ns_per_call = median(per_call);
  }

  // The outcome once the check function has returned.
  Outcome finish();

  std::vector<std::string> listed;  // kernel names seen in list mode


 protected:
  // Whether `name` is the kernel this run is about (records it in list mode).
  bool selects(const char* name);
  std::string prefix() const;
  static double median(std::vector<double> v);

  Outcome outcome_;
  Mode mode_;
  std::string family_, kernel_;
  CpuLevel level_;
  std::mt19937 rng_;
  bool running_ = false;  // the selected kernel was reached
};

// A kernel under test: the plain one and the candidate of the level.
template <class Fn>
struct Kernel {
  Fn ref = nullptr, cand = nullptr;
  explicit operator bool() const { return cand != nullptr; }
};

template <class Dsp>
class Checker : public Context {
 public:
  using ForLevel = const Dsp* (*)(CpuLevel);
  Checker(Mode mode, std::string family, std::string kernel, CpuLevel level, ForLevel for_level)
      : Context(mode, std::move(family), std::move(kernel), level), for_level_(for_level) {}

  // The kernel `name` (member `fn` of the table) when it is the one under
  // test at this level; empty otherwise, with the reason recorded when a
  // lower level's table holds the very same kernel (that level's case
  // covers it).
  template <class Fn>
  Kernel<Fn> kernel(const char* name, Fn Dsp::*fn) {
    if (!selects(name)) return {};
    const Dsp* ref = for_level_(CpuLevel::c);
    const Dsp* cand = for_level_(level_);
    if (!ref || !cand || !(cand->*fn)) {
      outcome_.skipped = "no " + std::string(cpu_level_name(level_)) + " variant of " + name;
      return {};
    }
    for (int l = static_cast<int>(level_) - 1; l >= 0; --l) {
      const Dsp* lower = for_level_(static_cast<CpuLevel>(l));
      if (lower && lower->*fn == cand->*fn) {
        outcome_.skipped = "same kernel as " + std::string(cpu_level_name(static_cast<CpuLevel>(l)));
        return {};
      }
    }
    running_ = true;
    return {ref->*fn, cand->*fn};
  }

 private:
  ForLevel for_level_;
};

// A registered family, type-erased.
class FamilyBase {
 public:
  virtual ~FamilyBase() = default;
  const std::string& name() const { return name_; }
  // The kernel names the check function asks for.
  virtual std::vector<std::string> kernels() const = 0;
  // One kernel at one level; mode test or bench.
  virtual Outcome run(const std::string& kernel, CpuLevel level, Mode mode) const = 0;

 protected:
  explicit FamilyBase(std::string name) : name_(std::move(name)) {}
  // Why a level cannot run here (empty when it can).
  static std::string level_absent(CpuLevel level);

 private:
  std::string name_;
};

// Every family, in registration order.
const std::vector<const FamilyBase*>& families();
void add_family(const FamilyBase* family);

template <class Dsp>
class Family : public FamilyBase {
 public:
  using ForLevel = const Dsp* (*)(CpuLevel);
  using Check = void (*)(Checker<Dsp>&);
  Family(const char* name, ForLevel for_level, Check check) : FamilyBase(name), for_level_(for_level), check_(check) {
    add_family(this);
  }

  std::vector<std::string> kernels() const override {
    Checker<Dsp> c(Mode::list, name(), "", CpuLevel::c, for_level_);
    check_(c);
    return c.listed;
  }

  Outcome run(const std::string& kernel, CpuLevel level, Mode mode) const override {
    Outcome absent;
    absent.skipped = level_absent(level);
    if (absent.skipped.empty() && !for_level_(level))
      absent.skipped = name() + " has no " + cpu_level_name(level) + " variant";
    if (!absent.skipped.empty()) return absent;
    Checker<Dsp> c(mode, name(), kernel, level, for_level_);
    check_(c);
    return c.finish();
  }

 private:
  ForLevel for_level_;
  Check check_;
};

// Every level a case exists for, plain first.
constexpr CpuLevel kLevels[] = {CpuLevel::c, CpuLevel::sse2, CpuLevel::sse41, CpuLevel::avx2};

}  // namespace checkasm
