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

double uniform_draw(RandomStream& stream) {
    return static_cast<double>(stream() >> 11) * 0x1.0p-53;
}

double NormalSource::draw(RandomStream& stream, double mu, double sigma) {
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

    double L = 0.0;
    if (s > 0.0001) {
        L = std::log(s);
    } else {
        // A pair close to the origin: scale it to unit magnitude first so that
        // s keeps its precision, and add back e * ln 4 to the logarithm.
        const int e = std::ilogb(std::max(std::abs(a), std::abs(b)));
        a = std::scalbn(a, -e);
        b = std::scalbn(b, -e);
        s = a * a + b * b;
        L = std::log(s) + static_cast<double>(e) * 1.3862943611198906;
    }
    const double f = std::sqrt(-2.0 * L / s);
    cached_ = f * b;
    has_cached_ = true;
    return f * a * sigma + mu;
}

}  // namespace vexa
