#pragma once
// A Metropolis walker over coefficient vectors, shared by the warm-up chains and
// the deep runs: its own stream, proposal source, state and buffers.

#include "mcmc/chain_energy.hpp"
#include "mcmc/chain_state.hpp"
#include "mcmc/random_streams.hpp"

#include <Eigen/Core>

#include <cstdint>

namespace vexa {

// The acceptance test of a proposal of energy E_new against the current E at
// temperature T. No draw is taken when E > E_new; otherwise one uniform U is
// drawn and the proposal accepted if exp(q) > U, q = (E - E_new) / T with a
// positive or NaN q replaced by 0, so equal and NaN proposals are accepted.
bool metropolis_accept(double E, double E_new, double T, RandomStream& stream);

class MetropolisChain {
public:
    MetropolisChain(const EnergyProblem& problem, std::uint64_t stream_seed);

    // Start at p normal draws N(0, sigma) in coordinate order, from a source of
    // their own that is dropped afterwards, and compute their energy.
    void start_random(double sigma);

    // start_random in two halves, so that a group of chains can score their
    // starts together: draw_start() draws the start, start_energy() takes its energy.
    void draw_start(double sigma);
    void start_energy(double energy) { energy_ = energy; }

    // Start at a known state; its energy is taken as given.
    void start_at(const ChainState& state);

    // One step: beta' = beta + N(0, sigma) per coordinate in order, from the
    // chain's proposal source (its cache carries over between steps), then the
    // acceptance test at temperature T. Allocates nothing.
    void step(double sigma, double T);

    // The same step in two halves, so that a group of chains can score their
    // proposals together: propose() draws the proposal and returns it; decide()
    // takes its energy and applies the acceptance test.
    const Eigen::VectorXd& propose(double sigma);
    void decide(double proposed_energy, double T);

    // Coordinate l of the proposal; propose() is this for l = 0, 1, ..., p - 1.
    // A group draws coordinate by coordinate across its chains, so that the
    // chains' independent draws overlap.
    void propose_coordinate(Eigen::Index l, double sigma) {
        proposal_[l] = beta_[l] + proposals_.draw(stream_, 0.0, sigma);
    }
    const Eigen::VectorXd& proposal() const { return proposal_; }

    const Eigen::VectorXd& beta() const { return beta_; }
    double energy() const { return energy_; }

private:
    RandomStream stream_;
    NormalSource proposals_;
    ChainEnergy chain_energy_;
    Eigen::VectorXd beta_;      // current state, p
    Eigen::VectorXd proposal_;  // p
    double energy_ = 0.0;
};

}  // namespace vexa
