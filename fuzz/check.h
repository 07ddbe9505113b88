#pragma once

#include <cstdlib>

namespace tarvi::fuzz {

// A promise of the code under test broken: the fuzzer keeps the input.
inline void check(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace tarvi::fuzz
