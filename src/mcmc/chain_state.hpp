#pragma once

#include <Eigen/Core>

namespace vexa {

// One chain's state; `energy` is always the energy computed for this `beta`.
struct ChainState {
    Eigen::VectorXd beta;  // p coefficients
    double energy = 0.0;
};

}  // namespace vexa
