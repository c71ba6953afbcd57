#pragma once

#include "gibbs/gibbs_entropy.hpp"

#include <Eigen/Core>

#include <cstdint>

namespace vexa {

// What a tournament fit returns; owns its vector, holds the Gibbs record by value.
struct MCMCResult {
    Eigen::VectorXd beta_mcmc;  // lowest-energy state found, p entries
    double energy;              // energy of beta_mcmc
    GibbsResult gibbs;          // statistics of the warm-up chains' final energies at T = 1
    std::int32_t n_chains;      // copied from the settings
    std::int32_t n_elite;       // the requested elite size, not the number of runs
};

}  // namespace vexa
