#pragma once
// The sampler's random numbers. Every draw comes from a std::mt19937_64 stream
// seeded from the user's seed, with the arithmetic and the order of engine
// outputs fixed, so that a fit is reproducible and independent of threads.

#include "kernels/mersenne_block.hpp"
#include "kernels/simd_path.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace vexa {

// The outputs of std::mt19937_64 with its standard single-value seeding, the
// same values in the same order. A block of 312 outputs is formed at once by the
// Mersenne block kernel of `path` (every path gives the same words), so that a
// draw is one load.
class RandomStream {
public:
    using result_type = std::uint64_t;

    explicit RandomStream(std::uint64_t seed, SimdPath path = widest_simd_path());

    std::uint64_t operator()() {
        if (next_ == kStateSize) refill();
        return block_[next_++];
    }

    void discard(unsigned long long count) {
        for (; count > 0; --count) (*this)();
    }

private:
    static constexpr std::size_t kStateSize = kMersenneWords;
    void refill();

    std::uint64_t state_[kStateSize];
    std::uint64_t block_[kStateSize];  // the tempered outputs of the current state
    std::size_t next_ = kStateSize;
    SimdPath path_;
};

// Seed of warm-up chain c: (seed + 1000 c) mod 2^64.
std::uint64_t chain_stream_seed(std::uint64_t seed, std::int64_t c);

// Seed of the deep run of elite member j: (seed + 13 j + 7777) mod 2^64.
std::uint64_t deep_stream_seed(std::uint64_t seed, std::int64_t j);

// A double in [0, 1) from exactly one engine output: (x >> 11) * 2^-53. Inline,
// as are the normal draws below: a sampler step takes a dozen of them per chain.
inline double uniform_draw(RandomStream& stream) {
    return static_cast<double>(stream() >> 11) * 0x1.0p-53;
}

// Normal variates by the polar method. Each accepted pair yields two variates:
// the first is returned, the second cached for the next draw. A source is tied
// to one stream by its user; a new source has an empty cache.
class NormalSource {
public:
    double draw(RandomStream& stream, double mu, double sigma) {
        if (has_cached_) {
            has_cached_ = false;
            return cached_ * sigma + mu;
        }
        double a = 0.0;
        double b = 0.0;
        double s = 0.0;
        do {
            const double U = uniform_draw(stream);
            const double W = uniform_draw(stream);
            a = 2.0 * U - 1.0;
            b = 2.0 * W - 1.0;
            s = a * a + b * b;
        } while (!(s < 1.0 && a != 0.0 && b != 0.0));
        const double L = s > 0.0001 ? std::log(s) : log_near_origin(a, b, s);
        const double f = std::sqrt(-2.0 * L / s);
        cached_ = f * b;
        has_cached_ = true;
        return f * a * sigma + mu;
    }

private:
    // ln s of a pair close to the origin: the pair is scaled to unit magnitude
    // first, so that s keeps its precision, and e ln 4 is added back; a, b and s
    // come back scaled.
    static double log_near_origin(double& a, double& b, double& s);

    bool has_cached_ = false;
    double cached_ = 0.0;
};

}  // namespace vexa
