#include "kernel_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(SimdLevel, RequestCappedAtTheProcessor) {
    struct Case {
        const char* request;
        SimdLevel best, chosen;
    };
    const Case cases[] = {
        {nullptr, SimdLevel::Avx2, SimdLevel::Avx2},
        {"scalar", SimdLevel::Avx2, SimdLevel::Scalar},
        {"sse2", SimdLevel::Avx2, SimdLevel::Sse2},
        {"avx2", SimdLevel::Avx2, SimdLevel::Avx2},
        {"avx2", SimdLevel::Sse2, SimdLevel::Sse2}, // lacking AVX2: the best below it
        {"sse2", SimdLevel::Scalar, SimdLevel::Scalar},
        {"neon", SimdLevel::Sse2, SimdLevel::Sse2}, // unknown names are ignored
        {"AVX2", SimdLevel::Scalar, SimdLevel::Scalar},
        {"", SimdLevel::Avx2, SimdLevel::Avx2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseSimdLevel(c.request, c.best), c.chosen)
            << (c.request ? c.request : "(none)") << " on " << int(c.best);
}

// The per-level runs set MIVRA_SIMD; the kernels must then take that level's paths.
TEST(SimdLevel, ProcessFollowsTheEnvironment) {
    const char* request = std::getenv("MIVRA_SIMD");
    if (request == nullptr) GTEST_SKIP() << "run without MIVRA_SIMD";
    const std::string name(request);
    const SimdLevel named = name == "scalar" ? SimdLevel::Scalar
                            : name == "sse2" ? SimdLevel::Sse2
                                             : SimdLevel::Avx2;
    EXPECT_EQ(ProcessSimdLevel(), std::min(named, ProcessorSimdLevel())) << name;
}

} // namespace
