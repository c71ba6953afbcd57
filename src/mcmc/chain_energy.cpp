#include "mcmc/chain_energy.hpp"

namespace vexa {

ChainEnergy::ChainEnergy(const EnergyProblem& problem)
    : problem_(problem),
      k_(static_cast<int>(problem.X.cols())),
      prediction_(problem.X.rows()),
      penalty_work_(problem.X.cols()) {}

double ChainEnergy::operator()(const Eigen::VectorXd& beta) {
    prediction_.noalias() = problem_.X * beta;
    return mdl_score_core(prediction_, problem_.y, k_, problem_.H, problem_.eps, &beta,
                          &problem_.terms, penalty_work_);
}

}  // namespace vexa
