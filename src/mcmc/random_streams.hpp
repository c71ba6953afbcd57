#pragma once
// The sampler's random numbers. Every draw comes from a std::mt19937_64 stream
// seeded from the user's seed, with the arithmetic and the order of engine
// outputs fixed, so that a fit is reproducible and independent of threads.

#include <cstdint>
#include <random>

namespace vexa {

using RandomStream = std::mt19937_64;

// Seed of warm-up chain c: (seed + 1000 c) mod 2^64.
std::uint64_t chain_stream_seed(std::uint64_t seed, std::int64_t c);

// Seed of the deep run of elite member j: (seed + 13 j + 7777) mod 2^64.
std::uint64_t deep_stream_seed(std::uint64_t seed, std::int64_t j);

// A double in [0, 1) from exactly one engine output: (x >> 11) * 2^-53.
double uniform_draw(RandomStream& stream);

// Normal variates by the polar method. Each accepted pair yields two variates:
// the first is returned, the second cached for the next draw. A source is tied
// to one stream by its user; a new source has an empty cache.
class NormalSource {
public:
    double draw(RandomStream& stream, double mu, double sigma);

private:
    bool has_cached_ = false;
    double cached_ = 0.0;
};

}  // namespace vexa
