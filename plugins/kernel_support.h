// Shared by the effects' pixel kernels: real-to-integer conversion and the compiler's
// multi-versioning of hot loops. No Qt, no globals.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

// Loops the compiler vectorises are also built for AVX2 and chosen when the processor has it.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define MIVRA_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define MIVRA_VECTOR_CLONES
#endif

// Truncation toward zero that is defined for every double (NaN gives 0); the clamp lies far
// outside the range of any exact pixel or position result, so only absurd inputs meet it.
inline int64_t TruncateSafely(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<int64_t>(std::clamp(value, -1e15, 1e15));
}
