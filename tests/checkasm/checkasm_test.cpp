// One test case per (family, kernel, level): FooDsp.bar_avx2. Levels this
// build or processor lacks are skipped with the reason, never left out.
#include <gtest/gtest.h>

#include "checkasm.h"

namespace {

class KernelCase : public testing::Test {
 public:
  KernelCase(const checkasm::FamilyBase* family, std::string kernel, CpuLevel level)
      : family_(family), kernel_(std::move(kernel)), level_(level) {}
  void TestBody() override {
    const checkasm::Outcome o = family_->run(kernel_, level_, checkasm::Mode::test);
    for (const std::string& f : o.failures) ADD_FAILURE() << f;
    if (!o.skipped.empty()) GTEST_SKIP() << o.skipped;
  }

 private:
  const checkasm::FamilyBase* family_;
  std::string kernel_;
  CpuLevel level_;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  for (const checkasm::FamilyBase* family : checkasm::families())
    for (const std::string& kernel : family->kernels())
      for (CpuLevel level : checkasm::kLevels) {
        const std::string name = kernel + "_" + cpu_level_name(level);
        testing::RegisterTest(family->name().c_str(), name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                              [=]() -> testing::Test* { return new KernelCase(family, kernel, level); });
      }
  return RUN_ALL_TESTS();
}
