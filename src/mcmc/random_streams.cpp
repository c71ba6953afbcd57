#include "mcmc/random_streams.hpp"

#include <algorithm>
#include <cmath>

namespace vexa {

RandomStream::RandomStream(std::uint64_t seed, SimdPath path) : path_(path) {
    require_simd_path(path);
    state_[0] = seed;
    for (std::size_t i = 1; i < kStateSize; ++i)
        state_[i] = 6364136223846793005u * (state_[i - 1] ^ (state_[i - 1] >> 62)) + i;
}

void RandomStream::refill() {
    next_mersenne_block(state_, block_, path_);
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
