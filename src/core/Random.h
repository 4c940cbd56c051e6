#pragma once
#include <cstdint>

// The one pseudo-random generator of the process: greeting seeds, message sequence numbers and
// registration numbers all draw from it, so their draws interleave in the order events happen.
class TRandomDraw {
public:
    explicit TRandomDraw(uint32_t seed = 0) : Seed(seed) {}

    // Seeds from the milliseconds since midnight UTC.
    void Randomize();
    void SetSeed(uint32_t seed) { Seed = seed; }
    uint32_t GetSeed() const { return Seed; }

    // A value from 0 to n - 1: advance the seed, then the upper half of seed * n.
    uint32_t Random(uint32_t n)
    {
        Seed = Seed * 134775813u + 1u;
        return static_cast<uint32_t>((static_cast<uint64_t>(Seed) * n) >> 32);
    }

private:
    uint32_t Seed;
};

// Every draw of the system uses this bound: 0 .. 2147483646.
inline constexpr uint32_t MaxDraw = 2147483647u;

TRandomDraw& ProcessRandom();
