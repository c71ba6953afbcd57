#include "mcmc/tournament_mcmc.hpp"

#include "common/checks.hpp"
#include "gibbs/gibbs_entropy.hpp"
#include "mcmc/chain_energy.hpp"
#include "mcmc/elite.hpp"
#include "mcmc/row_panels.hpp"
#include "mcmc/sampler_constants.hpp"
#include "mcmc/warmup.hpp"

#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vexa {

namespace {

void check_arguments(const Eigen::MatrixXd& X, const Eigen::VectorXd& y,
                     const PenaltyTerms& terms) {
    require_rows(X.rows(), "X", y.size(), "y");
    // The coefficient count is the score's k, a 32-bit int.
    if (X.cols() > std::numeric_limits<int>::max())
        throw std::invalid_argument("X has " + std::to_string(X.cols()) + " columns but at most " +
                                    std::to_string(std::numeric_limits<int>::max()) +
                                    " are supported");
    check_penalty_shapes(terms, X.cols(), "X");
}

}  // namespace

MCMCResult TournamentMCMC::fit(const Eigen::MatrixXd& X, const Eigen::VectorXd& y,
                               const PenaltyTerms& terms, const Cancellation& cancel,
                               SimdPath path) const {
    check_arguments(X, y, terms);
    // With no chain there is no energy to analyse and no chain to start the elite.
    if (n_chains == 0) throw std::invalid_argument("n_chains must be positive");

    const std::vector<double> panels = sampler_row_panels(X, cancel);
    const std::vector<double> scores = score_table(y.size(), static_cast<int>(X.cols()), H_piH);
    const EnergyProblem problem{X,
                                y,
                                H_piH,
                                sr_eps(y),
                                terms,
                                path,
                                panels.empty() ? nullptr : panels.data(),
                                scores.empty() ? nullptr : scores.data()};
    std::vector<ChainState> chains =
        run_warmup(problem, n_chains, n_warmup, step_size, seed, cancel);

    Eigen::VectorXd final_energies(static_cast<Eigen::Index>(chains.size()));
    for (std::size_t c = 0; c < chains.size(); ++c)
        final_energies[static_cast<Eigen::Index>(c)] = chains[c].energy;
    const GibbsResult gibbs = gibbs_entropy(final_energies, sampler::kStatisticsTemperature);

    rank_chains(chains);
    const std::vector<ChainState> elite = select_elite(chains, n_elite);
    ChainState best = run_deep_phase(problem, elite, n_deep, step_size, seed,
                                     sampler::kDeepStartHeatFactor * gibbs.r_heat, cancel);
    return MCMCResult{std::move(best.beta), best.energy, gibbs, n_chains, n_elite};
}

}  // namespace vexa
