#include "mcmc/random_streams.hpp"

#include <algorithm>
#include <cmath>

namespace vexa {

namespace {

// std::mt19937_64's parameters.
constexpr std::size_t kShift = 156;
constexpr std::uint64_t kMatrix = 0xb5026f5aa96619e9u;
constexpr std::uint64_t kUpper = 0xffffffff80000000u;
constexpr std::uint64_t kLower = 0x7fffffffu;

// Word k of the next state from words k and k + 1 of the old one and the word
// `far` kShift places on.
inline std::uint64_t twist(std::uint64_t word, std::uint64_t next, std::uint64_t far) {
    const std::uint64_t y = (word & kUpper) | (next & kLower);
    return far ^ (y >> 1) ^ ((std::uint64_t{0} - (y & 1u)) & kMatrix);
}

}  // namespace

RandomStream::RandomStream(std::uint64_t seed) {
    state_[0] = seed;
    for (std::size_t i = 1; i < kStateSize; ++i)
        state_[i] = 6364136223846793005u * (state_[i - 1] ^ (state_[i - 1] >> 62)) + i;
}

void RandomStream::refill() {
    constexpr std::size_t n = kStateSize;
    // Words below n - kShift read words not yet replaced; the others read
    // replaced ones kShift places back, as the standard engine does.
    for (std::size_t k = 0; k < n - kShift; ++k)
        state_[k] = twist(state_[k], state_[k + 1], state_[k + kShift]);
    for (std::size_t k = n - kShift; k < n - 1; ++k)
        state_[k] = twist(state_[k], state_[k + 1], state_[k + kShift - n]);
    state_[n - 1] = twist(state_[n - 1], state_[0], state_[kShift - 1]);
    for (std::size_t k = 0; k < n; ++k) {
        std::uint64_t z = state_[k];
        z ^= (z >> 29) & 0x5555555555555555u;
        z ^= (z << 17) & 0x71d67fffeda60000u;
        z ^= (z << 37) & 0xfff7eee000000000u;
        z ^= z >> 43;
        block_[k] = z;
    }
    next_ = 0;
}

// Unsigned arithmetic wraps, which is the required reduction modulo 2^64.
std::uint64_t chain_stream_seed(std::uint64_t seed, std::int64_t c) {
    return seed + 1000u * static_cast<std::uint64_t>(c);
}

std::uint64_t deep_stream_seed(std::uint64_t seed, std::int64_t j) {
    return seed + 13u * static_cast<std::uint64_t>(j) + 7777u;
}

double NormalSource::log_near_origin(double& a, double& b, double& s) {
    // ln(scalbn(a, -e)^2 + scalbn(b, -e)^2) + e ln 4 = ln s.
    const int e = std::ilogb(std::max(std::abs(a), std::abs(b)));
    a = std::scalbn(a, -e);
    b = std::scalbn(b, -e);
    s = a * a + b * b;
    return std::log(s) + static_cast<double>(e) * 1.3862943611198906;
}

}  // namespace vexa
