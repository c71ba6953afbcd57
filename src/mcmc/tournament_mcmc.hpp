#pragma once
// The tournament sampler: parallel warm-up chains, Gibbs statistics of their final
// energies, an elite of diverse low-energy chains and a deep phase refining it.

#include "kernels/simd_path.hpp"
#include "mcmc/deep_phase.hpp"
#include "mcmc/mcmc_result.hpp"
#include "stats/description_length.hpp"

#include <Eigen/Core>

#include <cstdint>

namespace vexa {

// The sampler's settings, stored as given; fit reads and never changes them.
struct TournamentMCMC {
    std::int32_t n_chains = 25;   // warm-up chains
    std::int32_t n_warmup = 200;  // steps of each warm-up chain
    std::int32_t n_deep = 2000;   // steps of each deep run
    std::int32_t n_elite = 5;     // elite size aimed for
    double step_size = 0.05;      // warm-up proposal sigma; deep runs use 0.3 times it
    std::int32_t H_piH = 20;      // H of every energy
    std::uint64_t seed = 42;      // base of every stream's seed

    // Searches for the beta of lowest energy mdl_score_core(X beta, y, p, H_piH,
    // sr_eps(y), beta, terms). X: n x p; penalties that will be read: p x p.
    // Throws std::invalid_argument for mismatched shapes and n_chains == 0,
    // std::length_error for a negative n_chains, all before any chain runs.
    // `path` only chooses the instruction set of the energy; the result is the
    // same for every choice. Every step of every chain checks `cancel`.
    MCMCResult fit(const Eigen::MatrixXd& X, const Eigen::VectorXd& y, const PenaltyTerms& terms,
                   const Cancellation& cancel = Cancellation(),
                   SimdPath path = widest_simd_path()) const;
};

}  // namespace vexa
