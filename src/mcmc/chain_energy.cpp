#include "mcmc/chain_energy.hpp"

#include "kernels/penalty_forms.hpp"
#include "stats/robust_stats.hpp"

#include <cstddef>
#include <cstdint>

namespace vexa {

std::vector<double> score_table(Eigen::Index n, int k, int H) {
    // Up to this many rows an evaluation's count costs no more than a few
    // logarithms, and the table stays within 32 KiB.
    constexpr Eigen::Index kMostRows = 4095;
    if (n > kMostRows) return {};
    const double model = model_cost(n, k, H);
    std::vector<double> scores(static_cast<std::size_t>(n + 1));
    for (Eigen::Index h = 0; h <= n; ++h)
        scores[static_cast<std::size_t>(h)] = mdl_score_from_rate(model, success_rate(h, n), n);
    return scores;
}

ChainEnergy::ChainEnergy(const EnergyProblem& problem)
    : problem_(problem),
      model_cost_(model_cost(problem.y.size(), static_cast<int>(problem.X.cols()), problem.H)) {
    // Only penalties need the coefficients laid out; the 8 p doubles are then no
    // more than a p x p penalty holds once p >= 8.
    bool penalized = false;
    problem.terms.for_each_used(
        [&](const Eigen::MatrixXd&, double, const char*) { penalized = true; });
    if (penalized) lanes_.assign(static_cast<std::size_t>(problem.X.cols()) * kMaxLockstep, 0.0);
}

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
    const Eigen::Index p = problem_.X.cols();
    count_successes(problem_.X.data(), n, p, problem_.y.data(), problem_.eps, coefficients, group,
                    hits, problem_.path, problem_.panels);
    for (int g = 0; g < group; ++g)
        energies[g] = problem_.scores
                          ? problem_.scores[hits[g]]
                          : mdl_score_from_rate(model_cost_, success_rate(hits[g], n), n);

    bool laid_out = false;
    problem_.terms.for_each_used([&](const Eigen::MatrixXd& R, double gamma, const char*) {
        if (!laid_out) {
            // Lanes past the group keep stale values; their forms are not read.
            for (Eigen::Index j = 0; j < p; ++j)
                for (int g = 0; g < group; ++g)
                    lanes_[static_cast<std::size_t>(j * kMaxLockstep + g)] = coefficients[g][j];
            laid_out = true;
        }
        double forms[kMaxLockstep];
        penalty_forms(R.data(), p, lanes_.data(), group, forms, problem_.path);
        for (int g = 0; g < group; ++g) energies[g] = gamma * forms[g] + energies[g];
    });
}

}  // namespace vexa
