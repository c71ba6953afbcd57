#pragma once
// Gibbs (Boltzmann) statistics of a sample of energies at temperature T.

#include <Eigen/Core>

namespace vexa {

struct GibbsResult {
    double H;       // entropy of the Boltzmann weights, nats
    double Hmax;    // ln(max(n, 2))
    double He;      // H / (Hmax + 1e-300)
    double r_heat;  // 0.99 * He + 0.01
    double var_E;   // population variance of the energies
    double T;       // the temperature as passed in
};

// energies must not be empty (ValueError otherwise).
GibbsResult gibbs_entropy(const Eigen::VectorXd& energies, double T);

}  // namespace vexa
