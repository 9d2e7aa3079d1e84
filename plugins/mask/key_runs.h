// The forms of the key replacement that the mask's table chooses from by SIMD level. Internal to
// the mask kernels.
#pragma once

#include <cstddef>
#include <cstdint>

// Copies the 3-byte groups of source into out where mask holds the key pattern (blue, green,
// red), over the whole groups of size bytes.
using KeyReplaceRun = void (*)(uint8_t* out, const uint8_t* mask, const uint8_t* source,
                               const uint8_t keyBgr[3], size_t size);

void KeyReplacePlain(uint8_t* out, const uint8_t* mask, const uint8_t* source,
                     const uint8_t keyBgr[3], size_t size);
void KeyReplaceSse2(uint8_t* out, const uint8_t* mask, const uint8_t* source,
                    const uint8_t keyBgr[3], size_t size);
