// The 24-bit colour runs sixteen pixels (three vectors) at a time.
#include "color_runs.h"

#include "kernel_support.h"

// Carries move byte-wise: one moves to the next byte of the same pixel, at most twice (blue to
// green to red).
void WrapRun24Sse2(uint8_t* p, size_t count, uint32_t k) {
    const uint8_t addend[3] = {uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16)};
    const uint8_t carries[3] = {0xFF, 0xFF, 0}; // red's carry leaves the pixel
    const PixelPattern addPattern(addend), carryPattern(carries);
    __m128i add[3], carryOut[3];
    for (int v = 0; v < 3; ++v) {
        add[v] = Load128(addPattern.bytes + 16 * v);
        carryOut[v] = Load128(carryPattern.bytes + 16 * v);
    }
    const __m128i ones = _mm_set1_epi8(-1);
    size_t done = 0;
    for (; done + 16 <= count; done += 16, p += 48) {
        __m128i sum[3], carry[3];
        for (int v = 0; v < 3; ++v) {
            const __m128i a = Load128(p + 16 * v);
            sum[v] = _mm_add_epi8(a, add[v]);
            const __m128i overflow =
                _mm_andnot_si128(_mm_cmpeq_epi8(_mm_adds_epu8(a, add[v]), sum[v]), ones);
            carry[v] = _mm_and_si128(overflow, carryOut[v]);
        }
        for (int round = 0; round < 2; ++round) {
            // Each carry (0xFF = -1) moves one byte up, across the vector boundaries too.
            const __m128i in[3] = {
                _mm_slli_si128(carry[0], 1),
                _mm_or_si128(_mm_slli_si128(carry[1], 1), _mm_srli_si128(carry[0], 15)),
                _mm_or_si128(_mm_slli_si128(carry[2], 1), _mm_srli_si128(carry[1], 15)),
            };
            for (int v = 0; v < 3; ++v) {
                carry[v] =
                    _mm_and_si128(_mm_and_si128(in[v], _mm_cmpeq_epi8(sum[v], ones)), carryOut[v]);
                sum[v] = _mm_sub_epi8(sum[v], in[v]);
            }
        }
        for (int v = 0; v < 3; ++v)
            Store128(p + 16 * v, sum[v]);
    }
    WrapRun24Plain(p, count - done, k);
}

void SaturateRun24Sse2(uint8_t* p, size_t count, const int32_t offsets[3]) {
    uint8_t up[3], down[3];
    for (int c = 0; c < 3; ++c) {
        up[c] = static_cast<uint8_t>(std::clamp(offsets[c], 0, 255));
        down[c] = static_cast<uint8_t>(std::clamp(-offsets[c], 0, 255));
    }
    const PixelPattern upPattern(up), downPattern(down);
    size_t done = 0;
    for (; done + 16 <= count; done += 16, p += 48)
        for (int v = 0; v < 3; ++v)
            Store128(p + 16 * v, _mm_subs_epu8(_mm_adds_epu8(Load128(p + 16 * v),
                                                             Load128(upPattern.bytes + 16 * v)),
                                               Load128(downPattern.bytes + 16 * v)));
    SaturateRun24Plain(p, count - done, offsets);
}
