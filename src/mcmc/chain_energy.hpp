#pragma once
// The sampler's energy: the regularized description length of the linear model
// X * beta, scored with k = p coefficients against the observations y.

#include "stats/description_length.hpp"

#include <Eigen/Core>

namespace vexa {

// Read-only data shared by every energy evaluation of one fit (and by all threads).
struct EnergyProblem {
    const Eigen::MatrixXd& X;  // n x p, one column per coefficient
    const Eigen::VectorXd& y;  // n observations
    int H;                     // resolution of the model cost
    double eps;                // sr_eps(y), formed once per fit
    PenaltyTerms terms;        // absent penalties are null
};

// chain_energy: mdl_score_core(X * beta, y, p, H, eps, beta, terms). X * beta is
// formed anew on every call, but into buffers this evaluator owns, as is the
// penalty product, so that evaluations allocate nothing after the first.
// One evaluator per chain or deep run; it is not shared between threads.
class ChainEnergy {
public:
    explicit ChainEnergy(const EnergyProblem& problem);

    double operator()(const Eigen::VectorXd& beta);

private:
    const EnergyProblem& problem_;
    int k_;                         // p, checked by the caller to fit an int
    Eigen::VectorXd prediction_;    // n
    Eigen::VectorXd penalty_work_;  // R * beta, p
};

}  // namespace vexa
