// The harness itself: a kernel that writes one byte too many, one that
// computes wrong bytes, a level without a table and a kernel shared with a
// lower level are each reported, none passes silently.
#include <gtest/gtest.h>

#include <cstring>

#include "checkasm.h"

namespace {

using checkasm::Canvas;

struct FakeDsp {
  void (*put)(uint8_t* dst, int n);
  void (*copy)(uint8_t* dst, int n);
};

void put_ok(uint8_t* d, int n) { std::memset(d, 1, n); }
void put_one_too_many(uint8_t* d, int n) { std::memset(d, 1, n + 1); }
void put_wrong(uint8_t* d, int n) { std::memset(d, 2, n); }

const FakeDsp kPlain = {put_ok, put_ok};
const FakeDsp kSse41 = {put_one_too_many, put_ok};
const FakeDsp kAvx2 = {put_wrong, put_wrong};

const FakeDsp* fake_for(CpuLevel level) {
  switch (level) {
    case CpuLevel::c: return &kPlain;
    case CpuLevel::sse41: return &kSse41;
    case CpuLevel::avx2: return &kAvx2;
    default: return nullptr;
  }
}

void check_fake(checkasm::Checker<FakeDsp>& c) {
  for (auto [name, fn] : {std::pair{"put", &FakeDsp::put}, std::pair{"copy", &FakeDsp::copy}})
    if (auto k = c.kernel(name, fn)) {
      Canvas a(16, 1, 16, 3, 9), b(16, 1, 16, 3, 9);
      k.ref(a.data(), 16);
      k.cand(b.data(), 16);
      c.same(a, b, "16 bytes");
    }
}

checkasm::Outcome run(const char* kernel, CpuLevel level) {
  checkasm::Checker<FakeDsp> c(checkasm::Mode::test, "FakeDsp", kernel, level, fake_for);
  check_fake(c);
  return c.finish();
}

}  // namespace

TEST(Checkasm, ListsEveryKernelOfAFamily) {
  checkasm::Checker<FakeDsp> c(checkasm::Mode::list, "FakeDsp", "", CpuLevel::c, fake_for);
  check_fake(c);
  EXPECT_EQ(c.listed, (std::vector<std::string>{"put", "copy"}));
}

TEST(Checkasm, ReportsFaultsAndSkips) {
  struct Case {
    const char* kernel;
    CpuLevel level;
    const char* failure;  // expected in the only failure, or null
    const char* skipped;  // expected skip reason, or null
  } cases[] = {
      {"put", CpuLevel::c, nullptr, nullptr},
      {"put", CpuLevel::sse2, nullptr, "no sse2 variant of put"},
      {"put", CpuLevel::sse41, "wrote outside its destination at row 0 column 16", nullptr},
      {"put", CpuLevel::avx2, "differs from plain at row 0 column 0", nullptr},
      {"copy", CpuLevel::sse41, nullptr, "same kernel as c"},
      {"copy", CpuLevel::avx2, "differs from plain", nullptr},
      {"absent", CpuLevel::avx2, "never asked for this kernel", nullptr},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(std::string(t.kernel) + " " + cpu_level_name(t.level));
    const checkasm::Outcome o = run(t.kernel, t.level);
    EXPECT_EQ(o.skipped, t.skipped ? t.skipped : "");
    ASSERT_EQ(o.failures.size(), t.failure ? 1u : 0u);
    if (t.failure) {
      EXPECT_NE(o.failures[0].find(t.failure), std::string::npos) << o.failures[0];
    }
  }
}

TEST(Checkasm, CanvasSeesWritesInEveryGuard) {
  // Rows of 5 bytes, 8 apart: the gap between rows counts as guard.
  for (auto [offset, row, column] : {std::tuple{-1, 0, -1}, std::tuple{-60, 0, -60}, std::tuple{5, 0, 5},
                                     std::tuple{8 + 7, 1, 7}, std::tuple{2 * 8 + 5, 2, 5},
                                     std::tuple{2 * 8 + 60, 2, 60}}) {
    Canvas c(5, 3, 8, 1, 4);
    int r = 0, col = 0;
    ASSERT_FALSE(c.stray_write(&r, &col));
    c.data()[offset] ^= 0xFF;
    ASSERT_TRUE(c.stray_write(&r, &col)) << offset;
    EXPECT_EQ(r, row) << offset;
    EXPECT_EQ(col, column) << offset;
  }
  Canvas a(5, 3, 8, 1, 4), b(5, 3, 8, 1, 4);
  int r = 0, col = 0;
  EXPECT_FALSE(a.differs(b, &r, &col));
  b.data()[8 + 4] ^= 1;
  ASSERT_TRUE(a.differs(b, &r, &col));
  EXPECT_EQ(r, 1);
  EXPECT_EQ(col, 4);
  EXPECT_FALSE(b.stray_write(&r, &col));
}
