// What every fuzzer shares: libFuzzer's entry point and the check of one property.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// A property that does not hold stops the run where libFuzzer reports the input.
inline void require(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}
