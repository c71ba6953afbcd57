#include "common/thread_team.hpp"
#include "mcmc/deep_phase.hpp"
#include "mcmc/elite.hpp"
#include "mcmc/metropolis_chain.hpp"
#include "mcmc/random_streams.hpp"
#include "mcmc/tournament_mcmc.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- Acceptance test ------------------------------------------------------------------

struct AcceptCase {
    const char* name;
    double E, E_new, T;
    bool accepted;
    int draws;  // engine outputs consumed
};

void PrintTo(const AcceptCase& c, std::ostream* os) { *os << c.name; }

class MetropolisAccept : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(MetropolisAccept, DecisionAndDrawsConsumed) {
    const AcceptCase& c = GetParam();
    // The first uniform of stream 42 is 0x1.82a3befaddcbcp-1 (about 0.7552).
    vexa::RandomStream stream(42u);
    EXPECT_EQ(vexa::metropolis_accept(c.E, c.E_new, c.T, stream), c.accepted);
    vexa::RandomStream expected(42u);
    expected.discard(static_cast<unsigned long long>(c.draws));
    EXPECT_EQ(stream(), expected());  // both at the same place in the stream
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MetropolisAccept,
    ::testing::Values(AcceptCase{"downhill", 1.0, 0.5, 1.0, true, 0},
                      AcceptCase{"equal", 1.0, 1.0, 1.0, true, 1},
                      AcceptCase{"uphill_above_U", 0.0, 0.2, 1.0, true, 1},   // e^-0.2 = 0.819
                      AcceptCase{"uphill_below_U", 0.0, 0.3, 1.0, false, 1},  // e^-0.3 = 0.741
                      AcceptCase{"hot_accepts", 0.0, 0.4, 2.0, true, 1},
                      AcceptCase{"hot_rejects", 0.0, 0.6, 2.0, false, 1},
                      AcceptCase{"nan_proposal", 0.0, kNaN, 1.0, true, 1},
                      AcceptCase{"nan_current", kNaN, 5.0, 1.0, true, 1},
                      AcceptCase{"both_infinite", kInf, kInf, 1.0, true, 1},
                      AcceptCase{"zero_temperature", 0.0, 1.0, 0.0, false, 1},
                      AcceptCase{"negative_temperature", 0.0, 1.0, -1.0, true, 1}),
    [](const ::testing::TestParamInfo<AcceptCase>& test) { return test.param.name; });

// ---- Ranking and elite selection --------------------------------------------------------

// Chain i carries the tag i as its energy unless one is given.
std::vector<vexa::ChainState> chains_at(const std::vector<std::vector<double>>& betas) {
    std::vector<vexa::ChainState> chains;
    for (std::size_t i = 0; i < betas.size(); ++i) {
        Eigen::VectorXd b(static_cast<Eigen::Index>(betas[i].size()));
        for (std::size_t j = 0; j < betas[i].size(); ++j)
            b[static_cast<Eigen::Index>(j)] = betas[i][j];
        chains.push_back({b, static_cast<double>(i)});
    }
    return chains;
}

TEST(RankChains, StableByEnergyWithNaNLast) {
    const std::vector<double> energies{3, kNaN, 1, 3, kNaN, -kInf, 1, 0.0, -0.0, kInf};
    std::vector<vexa::ChainState> chains;
    for (std::size_t i = 0; i < energies.size(); ++i)
        chains.push_back({Eigen::VectorXd::Constant(1, static_cast<double>(i)), energies[i]});
    vexa::rank_chains(chains);
    std::vector<int> order;
    for (const auto& c : chains) order.push_back(static_cast<int>(c.beta[0]));
    EXPECT_EQ(order, (std::vector<int>{5, 7, 8, 2, 6, 0, 3, 9, 1, 4}));
}

struct EliteCase {
    const char* name;
    std::vector<std::vector<double>> ranked;  // beta of s[0], s[1], ...
    std::int32_t n_elite;
    std::vector<int> expected;  // indices into ranked
};

void PrintTo(const EliteCase& c, std::ostream* os) { *os << c.name; }

class SelectElite : public ::testing::TestWithParam<EliteCase> {};

TEST_P(SelectElite, Members) {
    const EliteCase& c = GetParam();
    const std::vector<vexa::ChainState> elite = vexa::select_elite(chains_at(c.ranked), c.n_elite);
    std::vector<int> picked;
    for (const auto& member : elite) picked.push_back(static_cast<int>(member.energy));
    EXPECT_EQ(picked, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SelectElite,
    ::testing::Values(
        // s[1] is near s[0]; the top-up starts at index 2 and repeats s[2].
        EliteCase{"topup_repeats", {{0, 0}, {0.05, 0}, {1, 0}}, 5, {0, 2, 2}},
        EliteCase{"topup_repeats_late_chain", {{0}, {0.05}, {0.07}, {2}}, 4, {0, 3, 2, 3}},
        EliteCase{"elite_of_one", {{0}, {1}, {2}}, 1, {0}},
        EliteCase{"elite_of_zero", {{0}, {1}, {2}}, 0, {0}},
        EliteCase{"elite_negative", {{0}, {1}, {2}}, -3, {0}},
        EliteCase{"pass_stops_when_full", {{0}, {1}, {2}, {3}}, 2, {0, 1}},
        EliteCase{"near_any_member_skips", {{0}, {1}, {1.05}, {3}}, 3, {0, 1, 3}},
        EliteCase{"distance_exactly_0_1_skips", {{0}, {0.1}, {0.3}}, 2, {0, 2}},
        EliteCase{"nan_distance_is_not_near", {{0}, {kNaN}, {0.01}}, 2, {0, 1}},
        EliteCase{"no_coefficients_fills_by_topup", {{}, {}, {}, {}}, 3, {0, 1, 2}},
        EliteCase{"never_more_than_the_chains", {{}, {}, {}}, 10, {0, 1, 2}},
        EliteCase{"one_chain", {{0.5}}, 5, {0}}),
    [](const ::testing::TestParamInfo<EliteCase>& test) { return test.param.name; });

// ---- Whole fits -------------------------------------------------------------------------

struct Data {
    Eigen::MatrixXd X;  // n x p monomials
    Eigen::VectorXd y;
    Eigen::MatrixXd R1, R2;
};

Data make_data(Eigen::Index n, Eigen::Index p) {
    Data d{Eigen::MatrixXd(n, p), Eigen::VectorXd(n), Eigen::MatrixXd(p, p), Eigen::MatrixXd(p, p)};
    for (Eigen::Index i = 0; i < n; ++i) {
        const double x = -1.0 + 2.0 * static_cast<double>(i) / static_cast<double>(n - 1);
        double power = 1.0;
        for (Eigen::Index j = 0; j < p; ++j, power *= x) d.X(i, j) = power;
        d.y[i] = std::sin(2.0 * x) + 0.05 * std::cos(37.0 * x + 1.0);
    }
    for (Eigen::Index i = 0; i < p; ++i)
        for (Eigen::Index j = 0; j < p; ++j) {
            d.R1(i, j) = 1.0 / static_cast<double>(1 + i + j);  // Hilbert: positive definite
            d.R2(i, j) = i == j ? static_cast<double>(i * i) : 0.0;
        }
    return d;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void expect_identical(const vexa::MCMCResult& a, const vexa::MCMCResult& b) {
    ASSERT_EQ(a.beta_mcmc.size(), b.beta_mcmc.size());
    for (Eigen::Index i = 0; i < a.beta_mcmc.size(); ++i)
        EXPECT_TRUE(same_bits(a.beta_mcmc[i], b.beta_mcmc[i])) << "entry " << i;
    EXPECT_TRUE(same_bits(a.energy, b.energy));
    EXPECT_TRUE(same_bits(a.gibbs.H, b.gibbs.H));
    EXPECT_TRUE(same_bits(a.gibbs.r_heat, b.gibbs.r_heat));
    EXPECT_TRUE(same_bits(a.gibbs.var_E, b.gibbs.var_E));
    EXPECT_EQ(a.n_chains, b.n_chains);
    EXPECT_EQ(a.n_elite, b.n_elite);
}

// Puts every loop, however small, on the team, and restores the team size and
// threshold whatever a test does.
class TeamSize {
public:
    TeamSize()
        : saved_(omp_get_max_threads()),
          threshold_(vexa::set_team_threshold(0)),
          follows_(vexa::set_team_follows_load(false)) {}
    ~TeamSize() {
        omp_set_num_threads(saved_);
        vexa::set_team_threshold(threshold_);
        vexa::set_team_follows_load(follows_);
    }
    TeamSize(const TeamSize&) = delete;
    TeamSize& operator=(const TeamSize&) = delete;

private:
    int saved_;
    double threshold_;
    bool follows_;
};

struct FitCase {
    const char* name;
    vexa::TournamentMCMC settings;
    bool penalties;
};

void PrintTo(const FitCase& c, std::ostream* os) { *os << c.name; }

class TeamSizes : public ::testing::TestWithParam<FitCase> {};

TEST_P(TeamSizes, SameFitForEveryTeamSize) {
    const FitCase& c = GetParam();
    const Data d = make_data(60, 5);
    const vexa::PenaltyTerms terms =
        c.penalties ? vexa::PenaltyTerms{&d.R1, &d.R2, 0.02, 0.001} : vexa::PenaltyTerms{};
    const TeamSize restore;
    omp_set_num_threads(1);
    const vexa::MCMCResult reference = c.settings.fit(d.X, d.y, terms);
    for (int threads : {2, 3, 4}) {
        omp_set_num_threads(threads);
        SCOPED_TRACE("threads " + std::to_string(threads));
        expect_identical(c.settings.fit(d.X, d.y, terms), reference);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, TeamSizes,
    ::testing::Values(FitCase{"penalized", {9, 40, 120, 5, 0.05, 20, 42u}, true},
                      // Without penalties energies take few values, so runs often tie.
                      FitCase{"discrete_energies", {9, 20, 150, 6, 0.08, 20, 7u}, false},
                      FitCase{"large_elite", {6, 10, 80, 20, 0.05, 20, 3u}, true},
                      FitCase{"single_member", {6, 10, 80, 0, 0.05, 20, 3u}, true},
                      FitCase{"no_deep_steps", {6, 10, 0, 4, 0.05, 20, 3u}, true},
                      FitCase{"negative_deep_steps", {6, 10, -5, 4, 0.05, 20, 3u}, true},
                      FitCase{"seed_wraps", {5, 10, 60, 3, 0.05, 20, 18446744073709551615u}, true}),
    [](const ::testing::TestParamInfo<FitCase>& test) { return test.param.name; });

TEST(DeepPhase, LaterMembersAndStartTemperaturesMatter) {
    // Four copies of one state: the runs differ only in stream and start
    // temperature, and the lowest state may come from any of them.
    const Data d = make_data(60, 5);
    const vexa::PenaltyTerms terms{&d.R1, &d.R2, 0.02, 0.001};
    const vexa::EnergyProblem problem{d.X, d.y, 20, vexa::sr_eps(d.y), terms};
    vexa::ChainEnergy energy(problem);
    const Eigen::VectorXd start = Eigen::VectorXd::Constant(5, 0.1);
    const std::vector<vexa::ChainState> elite(4, vexa::ChainState{start, energy(start)});
    const TeamSize restore;
    for (double Td0 : {0.005, 0.5}) {
        omp_set_num_threads(1);
        const vexa::ChainState seq = vexa::run_deep_phase(problem, elite, 300, 0.05, 11u, Td0);
        EXPECT_LT(seq.energy, elite[0].energy);
        for (int threads : {2, 4}) {
            omp_set_num_threads(threads);
            const vexa::ChainState par = vexa::run_deep_phase(problem, elite, 300, 0.05, 11u, Td0);
            EXPECT_TRUE(same_bits(par.energy, seq.energy));
            EXPECT_EQ(par.beta, seq.beta);
        }
    }
}

}  // namespace
