#include "mcmc/lockstep.hpp"

#include <algorithm>
#include <cstddef>

namespace vexa {

namespace {

// A cached X: five vectors share each loaded column, their sums and the column
// still fit in the sixteen AVX2 registers, and one pass over each penalty matrix
// serves them all. The default fit's 25 chains and 5 deep runs then move in
// groups of five on one thread, not in groups of four and one, or of three and two;
// on two threads the chains move in groups of five and four, 13 and 12 chains a
// thread, the deep runs in groups of three and two.
constexpr int kCachedGroup = 5;

}  // namespace

bool stays_in_cache(const Eigen::MatrixXd& X) {
    // Above this size X no longer stays in a core's L2 cache between evaluations.
    constexpr std::int64_t kCachedBytes = std::int64_t{512} << 10;
    return X.size() * static_cast<std::int64_t>(sizeof(double)) <= kCachedBytes;
}

LockstepGroups lockstep_groups(const Eigen::MatrixXd& X, std::int64_t count, int threads) {
    if (count <= 0) return {};
    // Beyond the cache larger groups save passes over memory.
    const std::int64_t most = stays_in_cache(X) ? kCachedGroup : kMaxLockstep;
    const std::int64_t lanes = std::max(threads, 1);
    const std::int64_t rounds = (count + lanes * most - 1) / (lanes * most);
    const std::int64_t groups = std::min(count, lanes * rounds);
    return LockstepGroups{groups, count / groups, count % groups};
}

void start_in_lockstep(std::vector<MetropolisChain>& group, double sigma, ChainEnergy& energy) {
    const int size = static_cast<int>(group.size());
    const Eigen::VectorXd* starts[kMaxLockstep] = {};
    double energies[kMaxLockstep] = {};
    for (int g = 0; g < size; ++g) {
        MetropolisChain& chain = group[static_cast<std::size_t>(g)];
        chain.draw_start(sigma);
        starts[g] = &chain.beta();
    }
    energy(starts, size, energies);
    for (int g = 0; g < size; ++g) group[static_cast<std::size_t>(g)].start_energy(energies[g]);
}

void step_in_lockstep(std::vector<MetropolisChain>& group, double sigma, const double* T,
                      ChainEnergy& energy) {
    const int size = static_cast<int>(group.size());
    const Eigen::VectorXd* proposals[kMaxLockstep] = {};
    double energies[kMaxLockstep] = {};
    const Eigen::Index p = size > 0 ? group.front().beta().size() : 0;
    for (Eigen::Index l = 0; l < p; ++l)
        for (MetropolisChain& chain : group) chain.propose_coordinate(l, sigma);
    for (int g = 0; g < size; ++g) proposals[g] = &group[static_cast<std::size_t>(g)].proposal();
    energy(proposals, size, energies);
    for (int g = 0; g < size; ++g) group[static_cast<std::size_t>(g)].decide(energies[g], T[g]);
}

}  // namespace vexa
