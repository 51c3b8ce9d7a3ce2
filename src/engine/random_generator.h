#pragma once

#include <cstdint>

namespace dravo2 {
inline namespace engine {

// The program's one pseudo-random generator: a linear congruential generator whose state starts
// at 0 and is never seeded, so every run draws the same sequence.
class RandomGenerator {
public:
    std::uint32_t RandomState = 0;

    // A whole number 0 .. n-1 (n >= 1): the state advances by x 134775813 + 1 mod 2^32, and the
    // result is the upper half of the 64-bit product n x state.
    std::uint32_t RandomBelow(std::uint32_t n) {
        RandomState = RandomState * 134775813u + 1u;
        return static_cast<std::uint32_t>((static_cast<std::uint64_t>(n) * RandomState) >> 32);
    }
};

} // namespace engine
} // namespace dravo2
