#include "mcmc/random_streams.hpp"

#include <algorithm>
#include <cmath>

namespace vexa {

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
