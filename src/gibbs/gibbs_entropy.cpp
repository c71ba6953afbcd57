#include "gibbs/gibbs_entropy.hpp"

#include "common/huge_pages.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace vexa {

GibbsResult gibbs_entropy(const Eigen::VectorXd& energies, double T) {
    const Eigen::Index n = energies.size();
    if (n == 0) throw std::invalid_argument("energies has 0 entries but needs at least 1");

    const double Emin = energies.minCoeff();
    const double tau = T + 1e-300;  // keeps T = 0 from dividing by zero
    // Shifting by Emin makes the largest weight exactly 1, so Z >= 1.
    auto w = uninitialised<Eigen::VectorXd>(n, 1);
    double Z = 0.0;
    for (Eigen::Index i = 0; i < n; ++i) {
        w[i] = std::exp(-(energies[i] - Emin) / tau);
        Z += w[i];
    }
    double H = 0.0;
    for (Eigen::Index i = 0; i < n; ++i) {
        const double q = w[i] / Z;
        H = H - std::log(q + 1e-300) * q;  // a zero probability contributes 0, not NaN
    }
    const double Hmax = std::log(static_cast<double>(std::max<Eigen::Index>(n, 2)));
    const double He = H / (Hmax + 1e-300);
    const double r_heat = He * 0.99 + 0.01;
    const double mean = energies.sum() / static_cast<double>(n);
    double ss = 0.0;
    for (Eigen::Index i = 0; i < n; ++i) ss += (energies[i] - mean) * (energies[i] - mean);
    return {H, Hmax, He, r_heat, ss / static_cast<double>(n), T};
}

}  // namespace vexa
