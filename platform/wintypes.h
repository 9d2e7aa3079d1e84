// The Windows integer types and the export macro, shared by the file services and the ui
// services so that both C APIs keep the Windows widths.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define PLATFORM_API __attribute__((visibility("default")))

typedef int32_t LONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef int32_t HRESULT;
