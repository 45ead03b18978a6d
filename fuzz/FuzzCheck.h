// A property that must hold for every input: when it does not, the fuzzer saves the input.
#pragma once

#include <cstdlib>

namespace fuzz {

inline void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace fuzz
