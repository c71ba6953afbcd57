#include "mcmc/deep_phase.hpp"
#include "mcmc/elite.hpp"
#include "mcmc/metropolis_chain.hpp"
#include "mcmc/random_streams.hpp"
#include "mcmc/tournament_mcmc.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- Random streams against reference draws -------------------------------------------

TEST(RandomStreams, EngineIsTheStandardMt19937_64) {
    vexa::RandomStream engine;  // default seed 5489
    engine.discard(9999);
    EXPECT_EQ(engine(), 9981545732273789042u);
}

struct StreamReference {
    std::uint64_t seed;
    std::array<std::uint64_t, 6> raw;
    std::array<double, 6> uniforms;
    std::array<double, 9> normals;  // fresh source on a fresh stream, mu 0, sigma 1
};

void PrintTo(const StreamReference& r, std::ostream* os) { *os << "seed " << r.seed; }

class StreamDraws : public ::testing::TestWithParam<StreamReference> {};

TEST_P(StreamDraws, RawUniformAndNormalDrawsMatchToTheBit) {
    const StreamReference& ref = GetParam();
    vexa::RandomStream raw(ref.seed);
    for (std::uint64_t expected : ref.raw) EXPECT_EQ(raw(), expected);

    vexa::RandomStream uniforms(ref.seed);
    for (double expected : ref.uniforms) EXPECT_EQ(vexa::uniform_draw(uniforms), expected);

    vexa::RandomStream normals(ref.seed);
    vexa::NormalSource source;
    for (double expected : ref.normals) EXPECT_EQ(source.draw(normals, 0.0, 1.0), expected);

    // Both members of a pair are scaled as z * sigma + mu, the cached one included.
    vexa::RandomStream scaled(ref.seed);
    vexa::NormalSource scaled_source;
    for (double expected : ref.normals)
        EXPECT_EQ(scaled_source.draw(scaled, 1.5, -2.0), expected * -2.0 + 1.5);
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, StreamDraws,
    ::testing::Values(
        StreamReference{
            42u,
            {13930160852258120406u, 11788048577503494824u, 13874630024467741450u,
             2513787319205155662u, 16662371453428439381u, 1735254072534978428u},
            {0x1.82a3befaddcbcp-1, 0x1.472f1f73724a0p-1, 0x1.81192cfe1cbcfp-1,
             0x1.171621fc50d68p-3, 0x1.ce79451c9a6c3p-1, 0x1.814dc629c7f48p-4},
            {0x1.4b37d0b4daa8fp+0, 0x1.68f438d8aec29p-1, 0x1.978762f4a05dcp-2,
             -0x1.25efc127557c4p-1, 0x1.1e599fb914974p+0, -0x1.e81c87dfcf307p+0,
             -0x1.7e03e64e8ab37p+0, -0x1.72c03dadaa429p-1, -0x1.3c385727c9302p-2}},
        StreamReference{
            7790u,
            {3141553655034879741u, 17824573998910992900u, 12689022954133286560u,
             16219805161459174242u, 15576236747868760664u, 6998603198658883141u},
            {0x1.5cc8533c9978cp-3, 0x1.eebb373a0b81ep-1, 0x1.6030ee4b7fc8dp-1,
             0x1.c230a5b75da49p-1, 0x1.b053d1976c34dp-1, 0x1.8480221dafe6ap-2},
            {0x1.7312bc9f4635bp-2, 0x1.768f5f722b671p-1, 0x1.0f34f20b5e817p+0,
             -0x1.7be7e00d9807ap-2, -0x1.3d15800e6dcf1p-2, -0x1.ea29b0b25d5a7p-1,
             0x1.2325374fe1e4ap+0, -0x1.83fe709022c4bp-2, 0x1.5bb6aa7e3adcep-2}},
        StreamReference{
            18446744073709551615u,
            {478026398904862820u, 13243134898385798468u, 709236020254955927u,
             9482188692832154854u, 17279096482229114326u, 9673544723405839539u},
            {0x1.a8929e88fef20p-6, 0x1.6f92220cc5ba8p-1, 0x1.3af6cce326ab0p-5,
             0x1.072f00c132f8ep-1, 0x1.df975d676defap-1, 0x1.0c7eab58baeb3p-1},
            {-0x1.20af0957da38ap-1, 0x1.18d13db7ba536p-6, 0x1.75fb01cbd5f49p-1,
             0x1.4e61e83a84a23p-5, -0x1.80f14878712abp+0, -0x1.843244fce711ap-1,
             -0x1.69f486ed4d6f2p-6, -0x1.0e7076ccc852bp-7, 0x1.0645cd8ff64c8p-1}}),
    [](const ::testing::TestParamInfo<StreamReference>& info) {
        return "seed_" + std::to_string(info.param.seed);
    });

TEST(RandomStreams, PairNearTheOriginIsRescaled) {
    // Draws 726 and 727 of a fresh source on stream 2 come from a pair with s <= 1e-4.
    vexa::RandomStream stream(2u);
    vexa::NormalSource source;
    for (int i = 0; i < 726; ++i) source.draw(stream, 0.0, 1.0);
    EXPECT_EQ(source.draw(stream, 0.0, 1.0), 0x1.88f3e5a5027dfp+1);
    EXPECT_EQ(source.draw(stream, 0.0, 1.0), -0x1.a0a6b70b34ff1p+1);
}

TEST(RandomStreams, SeedsWrapModulo2To64) {
    const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(vexa::chain_stream_seed(42u, 0), 42u);
    EXPECT_EQ(vexa::chain_stream_seed(42u, 3), 3042u);
    EXPECT_EQ(vexa::chain_stream_seed(top, 1), 999u);
    EXPECT_EQ(vexa::deep_stream_seed(42u, 0), 7819u);
    EXPECT_EQ(vexa::deep_stream_seed(42u, 2), 7845u);
    EXPECT_EQ(vexa::deep_stream_seed(top, 0), 7776u);
    // Chain c + 1 of one seed is chain c of the seed 1000 higher.
    EXPECT_EQ(vexa::chain_stream_seed(5u, 4), vexa::chain_stream_seed(1005u, 3));
}

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
    EXPECT_TRUE(stream == expected);
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
    [](const ::testing::TestParamInfo<AcceptCase>& info) { return info.param.name; });

// ---- Ranking and elite selection --------------------------------------------------------

// Chain i carries the tag i as its energy unless one is given.
std::vector<vexa::ChainState> chains_at(const std::vector<std::vector<double>>& betas) {
    std::vector<vexa::ChainState> chains;
    for (std::size_t i = 0; i < betas.size(); ++i) {
        Eigen::VectorXd b(static_cast<Eigen::Index>(betas[i].size()));
        for (std::size_t j = 0; j < betas[i].size(); ++j) b[static_cast<Eigen::Index>(j)] = betas[i][j];
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
    [](const ::testing::TestParamInfo<EliteCase>& info) { return info.param.name; });

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

// Restores the team size whatever a test does.
class TeamSize {
public:
    TeamSize() : saved_(omp_get_max_threads()) {}
    ~TeamSize() { omp_set_num_threads(saved_); }
    TeamSize(const TeamSize&) = delete;
    TeamSize& operator=(const TeamSize&) = delete;

private:
    int saved_;
};

struct FitCase {
    const char* name;
    vexa::TournamentMCMC settings;
    bool penalties;
};

void PrintTo(const FitCase& c, std::ostream* os) { *os << c.name; }

class DeepSchedules : public ::testing::TestWithParam<FitCase> {};

TEST_P(DeepSchedules, ParallelEqualsSequentialForEveryTeamSize) {
    const FitCase& c = GetParam();
    const Data d = make_data(60, 5);
    const vexa::PenaltyTerms terms =
        c.penalties ? vexa::PenaltyTerms{&d.R1, &d.R2, 0.02, 0.001} : vexa::PenaltyTerms{};
    const TeamSize restore;
    omp_set_num_threads(1);
    const vexa::MCMCResult reference = c.settings.fit(d.X, d.y, terms, vexa::DeepSchedule::sequential);
    for (int threads : {1, 2, 3, 4}) {
        omp_set_num_threads(threads);
        SCOPED_TRACE("threads " + std::to_string(threads));
        expect_identical(c.settings.fit(d.X, d.y, terms, vexa::DeepSchedule::parallel), reference);
        expect_identical(c.settings.fit(d.X, d.y, terms, vexa::DeepSchedule::sequential), reference);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, DeepSchedules,
    ::testing::Values(
        FitCase{"penalized", {9, 40, 120, 5, 0.05, 20, 42u}, true},
        // Without penalties energies take few values, so runs often tie.
        FitCase{"discrete_energies", {9, 20, 150, 6, 0.08, 20, 7u}, false},
        FitCase{"large_elite", {6, 10, 80, 20, 0.05, 20, 3u}, true},
        FitCase{"single_member", {6, 10, 80, 0, 0.05, 20, 3u}, true},
        FitCase{"no_deep_steps", {6, 10, 0, 4, 0.05, 20, 3u}, true},
        FitCase{"negative_deep_steps", {6, 10, -5, 4, 0.05, 20, 3u}, true},
        FitCase{"seed_wraps", {5, 10, 60, 3, 0.05, 20, 18446744073709551615u}, true}),
    [](const ::testing::TestParamInfo<FitCase>& info) { return info.param.name; });

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
        const vexa::ChainState seq = vexa::run_deep_phase(problem, elite, 300, 0.05, 11u, Td0,
                                                          vexa::DeepSchedule::sequential);
        EXPECT_LT(seq.energy, elite[0].energy);
        for (int threads : {2, 4}) {
            omp_set_num_threads(threads);
            const vexa::ChainState par = vexa::run_deep_phase(problem, elite, 300, 0.05, 11u, Td0,
                                                              vexa::DeepSchedule::parallel);
            EXPECT_TRUE(same_bits(par.energy, seq.energy));
            EXPECT_EQ(par.beta, seq.beta);
        }
    }
}

}  // namespace
