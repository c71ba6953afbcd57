#include "mcmc/metropolis_chain.hpp"

#include <cmath>
#include <utility>

namespace vexa {

bool metropolis_accept(double E, double E_new, double T, RandomStream& stream) {
    if (E > E_new) return true;
    const double U = uniform_draw(stream);
    double q = (E - E_new) / T;
    if (q > 0 || std::isnan(q)) q = 0;
    return std::exp(q) > U;
}

MetropolisChain::MetropolisChain(const EnergyProblem& problem, std::uint64_t stream_seed)
    : stream_(stream_seed, problem.path),
      chain_energy_(problem),
      beta_(problem.X.cols()),
      proposal_(problem.X.cols()) {}

void MetropolisChain::start_random(double sigma) {
    draw_start(sigma);
    energy_ = chain_energy_(beta_);
}

void MetropolisChain::draw_start(double sigma) {
    NormalSource start;
    for (Eigen::Index j = 0; j < beta_.size(); ++j) beta_[j] = start.draw(stream_, 0.0, sigma);
}

void MetropolisChain::start_at(const ChainState& state) {
    beta_ = state.beta;
    energy_ = state.energy;
}

void MetropolisChain::step(double sigma, double T) { decide(chain_energy_(propose(sigma)), T); }

const Eigen::VectorXd& MetropolisChain::propose(double sigma) {
    for (Eigen::Index l = 0; l < proposal_.size(); ++l) propose_coordinate(l, sigma);
    return proposal_;
}

void MetropolisChain::decide(double proposed_energy, double T) {
    if (metropolis_accept(energy_, proposed_energy, T, stream_)) {
        beta_.swap(proposal_);  // the old state's buffer becomes the next proposal's
        energy_ = proposed_energy;
    }
}

}  // namespace vexa
