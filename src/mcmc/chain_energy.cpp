#include "mcmc/chain_energy.hpp"

#include "stats/robust_stats.hpp"

#include <cstdint>

namespace vexa {

ChainEnergy::ChainEnergy(const EnergyProblem& problem)
    : problem_(problem),
      model_cost_(model_cost(problem.y.size(), static_cast<int>(problem.X.cols()), problem.H)),
      penalty_work_(problem.X.cols()) {}

double ChainEnergy::operator()(const Eigen::VectorXd& beta) {
    const Eigen::VectorXd* one = &beta;
    double energy = 0.0;
    (*this)(&one, 1, &energy);
    return energy;
}

void ChainEnergy::operator()(const Eigen::VectorXd* const* betas, int group, double* energies) {
    require_lockstep_group(group);
    const double* coefficients[kMaxLockstep] = {};
    for (int g = 0; g < group; ++g) coefficients[g] = betas[g]->data();
    std::int64_t hits[kMaxLockstep] = {};
    const Eigen::Index n = problem_.y.size();
    count_successes(problem_.X.data(), n, problem_.X.cols(), problem_.y.data(), problem_.eps,
                    coefficients, group, hits, problem_.path);
    for (int g = 0; g < group; ++g)
        energies[g] = mdl_score_from_rate(model_cost_, success_rate(hits[g], n), n, betas[g],
                                          &problem_.terms, penalty_work_);
}

}  // namespace vexa
