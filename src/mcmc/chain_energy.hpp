#pragma once
// The sampler's energy: the regularized description length of the linear model
// X * beta, scored with k = p coefficients against the observations y.

#include "kernels/simd_path.hpp"
#include "kernels/success_count.hpp"
#include "stats/description_length.hpp"

#include <Eigen/Core>

#include <vector>

namespace vexa {

// Read-only data shared by every energy evaluation of one fit (and by all threads).
struct EnergyProblem {
    const Eigen::MatrixXd& X;            // n x p, one column per coefficient
    const Eigen::VectorXd& y;            // n observations
    int H;                               // resolution of the model cost
    double eps;                          // sr_eps(y), formed once per fit
    PenaltyTerms terms;                  // absent penalties are null
    SimdPath path = widest_simd_path();  // instruction set of the success count
    const double* panels = nullptr;      // X's rows packed (row_panels.hpp), or null
    const double* scores = nullptr;      // score_table(y.size(), X.cols(), H), or null
};

// The unpenalized energy of every success count h = 0..n of a fit with k
// coefficients, mdl_score_from_rate(model_cost(n, k, H), success_rate(h, n), n),
// for an evaluation to look up instead of taking a logarithm; empty when n is so
// large that the logarithm is a negligible part of an evaluation.
std::vector<double> score_table(Eigen::Index n, int k, int H);

// chain_energy: mdl_score_core(X * beta, y, p, H, eps, beta, terms). One pass over
// X and y counts the successes of X * beta without storing the predictions, and
// one pass over each penalty matrix forms the penalties of the whole group, with
// the coefficients laid out lane by lane in a buffer this evaluator owns, so that
// evaluations allocate nothing. One evaluator per chain, deep run or group of
// them; it is not shared between threads.
class ChainEnergy {
public:
    explicit ChainEnergy(const EnergyProblem& problem);

    double operator()(const Eigen::VectorXd& beta);

    // energies[g] = the energy of *betas[g] for g < group (1 <= group <=
    // kMaxLockstep), all scored in one pass over X: the same values as one call each.
    void operator()(const Eigen::VectorXd* const* betas, int group, double* energies);

private:
    const EnergyProblem& problem_;
    double model_cost_;          // of k = p (checked by the caller to fit an int)
    std::vector<double> lanes_;  // coefficient j of vector g at 8 j + g, p x 8
};

}  // namespace vexa
