// Choosing the kernel set from BW_SIMD, and switching it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "primitives/kernel_set.h"
#include "primitives/nsp.h"
#include "support/kernel_sets.h"

namespace bw::nsp {
namespace {

TEST(KernelSetTest, RequestIsFollowedOnlyWhereTheCpuRunsIt) {
  const std::vector<KernelSet> all{KernelSet::Avx512, KernelSet::Avx2,
                                   KernelSet::Sse2};
  const std::vector<KernelSet> noAvx512{KernelSet::Avx2, KernelSet::Sse2};
  EXPECT_EQ(chooseKernelSet(nullptr, all).set, KernelSet::Avx512);
  EXPECT_EQ(chooseKernelSet("", noAvx512).set, KernelSet::Avx2);
  EXPECT_TRUE(chooseKernelSet(nullptr, all).problem.empty());

  const KernelChoice avx2 = chooseKernelSet("AVX2", all);
  EXPECT_EQ(avx2.set, KernelSet::Avx2);
  EXPECT_TRUE(avx2.problem.empty());
  EXPECT_EQ(chooseKernelSet("sse2", all).set, KernelSet::Sse2);

  const KernelChoice missing = chooseKernelSet("avx512", noAvx512);
  EXPECT_EQ(missing.set, KernelSet::Avx2);
  EXPECT_NE(missing.problem.find("cannot run"), std::string::npos);

  const KernelChoice unknown = chooseKernelSet("neon", all);
  EXPECT_EQ(unknown.set, KernelSet::Avx512);
  EXPECT_NE(unknown.problem.find("unknown"), std::string::npos);
}

TEST(KernelSetTest, ActiveSetIsTheEnvironmentsChoiceAndCanBeSwitched) {
  const KernelSet chosen =
      chooseKernelSet(std::getenv("BW_SIMD"), supportedKernelSets()).set;
  EXPECT_EQ(activeKernelSet(), chosen);
  for (KernelSet set : supportedKernelSets()) {
    test::ScopedKernelSet use(set);
    EXPECT_EQ(activeKernelSet(), set);
    std::vector<double> v{1.0, 5.0, 2.0, 7.0, 3.0, 9.0, 4.0, 8.0, 6.0};
    nspdbThresh1(v.data(), 9, 4.5, kThreshGreater);
    EXPECT_EQ(v, (std::vector<double>{1, 4.5, 2, 4.5, 3, 4.5, 4, 4.5, 4.5}));
  }
  EXPECT_EQ(activeKernelSet(), chosen);
}

}  // namespace
}  // namespace bw::nsp
