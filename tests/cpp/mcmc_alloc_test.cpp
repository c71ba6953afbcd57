// Proves that a sampler step allocates nothing once its buffers are sized.
//
// How allocations are counted: this test binary defines malloc, calloc, realloc,
// posix_memalign, aligned_alloc and memalign itself. The executable's definitions
// interpose the C library's for every caller in the process (the core library is
// linked in statically; libstdc++'s operator new reaches malloc through the
// dynamic linker), so Eigen's aligned_malloc (std::malloc on this platform) and
// every operator new are counted. Each definition forwards to glibc's own entry
// points (__libc_malloc ...), so free() stays the C library's and the heap is
// unchanged. A sanity test checks that both paths are seen. Sanitizer builds
// bring their own allocator, so there the counting is left out and the tests skip.

#include "mcmc/deep_phase.hpp"
#include "mcmc/metropolis_chain.hpp"
#include "mcmc/warmup.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <memory>
#include <ostream>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define VEXA_FOREIGN_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VEXA_FOREIGN_ALLOCATOR 1
#endif
#if defined(__GLIBC__) && !defined(VEXA_FOREIGN_ALLOCATOR)
#define VEXA_COUNT_ALLOCATIONS 1
#endif

namespace {
std::atomic<long> allocations{0};
}  // namespace

#ifdef VEXA_COUNT_ALLOCATIONS
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* ptr, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);

void* malloc(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* ptr, std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(ptr, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr) return ENOMEM;
    *out = p;
    return 0;
}
}  // extern "C"
#endif

namespace {

#ifdef VEXA_COUNT_ALLOCATIONS
#define REQUIRE_COUNTING() (void)0
#else
#define REQUIRE_COUNTING() GTEST_SKIP() << "allocation counting needs glibc without a sanitizer"
#endif

template <typename F>
long allocations_during(F&& work) {
    const long before = allocations.load();
    work();
    return allocations.load() - before;
}

TEST(AllocationCounter, SeesEigenAndOperatorNew) {
    REQUIRE_COUNTING();
    EXPECT_GE(allocations_during([] {
                  Eigen::VectorXd v(64);
                  v.setZero();
                  EXPECT_EQ(v.sum(), 0.0);
              }),
              1);
    // The vector escapes through a volatile pointer: otherwise clang may elide the
    // whole allocation, as C++14 allows, and the counter would see nothing.
    static std::vector<int>* volatile escaped = nullptr;
    EXPECT_GE(allocations_during([] {
                  auto p = std::make_unique<std::vector<int>>(100, 1);
                  escaped = p.get();
                  EXPECT_EQ(escaped->size(), 100u);
                  escaped = nullptr;
              }),
              1);
}

struct Problem {
    Eigen::MatrixXd X;
    Eigen::VectorXd y;
    Eigen::MatrixXd R1, R2;
};

Problem make_problem(Eigen::Index n, Eigen::Index p) {
    Problem d{Eigen::MatrixXd(n, p), Eigen::VectorXd(n), Eigen::MatrixXd::Identity(p, p),
              Eigen::MatrixXd::Constant(p, p, 0.25)};
    for (Eigen::Index i = 0; i < n; ++i) {
        const double x = -1.0 + 2.0 * static_cast<double>(i) / static_cast<double>(n - 1);
        double power = 1.0;
        for (Eigen::Index j = 0; j < p; ++j, power *= x) d.X(i, j) = power;
        d.y[i] = std::sin(3.0 * x);
    }
    return d;
}

struct StepCase {
    const char* name;
    Eigen::Index n, p;
    bool penalties;
};

void PrintTo(const StepCase& c, std::ostream* os) { *os << c.name; }

class SteadyState : public ::testing::TestWithParam<StepCase> {};

TEST_P(SteadyState, ChainStepsAllocateNothing) {
    REQUIRE_COUNTING();
    const StepCase& c = GetParam();
    const Problem d = make_problem(c.n, c.p);
    const vexa::PenaltyTerms terms =
        c.penalties ? vexa::PenaltyTerms{&d.R1, &d.R2, 0.1, 0.01} : vexa::PenaltyTerms{};
    const vexa::EnergyProblem problem{d.X, d.y, 20, 0.1, terms};
    vexa::MetropolisChain chain(problem, 42u);
    chain.start_random(0.5);
    for (int i = 0; i < 3; ++i) chain.step(0.05, 1.0);
    double T = 2.0;
    const long counted = allocations_during([&] {
        for (int i = 0; i < 500; ++i, T *= 0.995) chain.step(0.05, T);
    });
    EXPECT_EQ(counted, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, SteadyState,
                         ::testing::Values(StepCase{"defaults_shape", 500, 8, true},
                                           StepCase{"no_penalties", 500, 8, false},
                                           StepCase{"wide", 40, 30, true},
                                           StepCase{"no_coefficients", 50, 0, true}),
                         [](const ::testing::TestParamInfo<StepCase>& test) {
                             return test.param.name;
                         });

// Whole phases: the allocation count does not grow with the number of steps, so
// the steps themselves (the deep phase's best-state copies included) allocate nothing.
TEST(PhaseAllocations, SameForAnyStepCount) {
    REQUIRE_COUNTING();
    const Problem d = make_problem(200, 6);
    const vexa::PenaltyTerms terms{&d.R1, &d.R2, 0.1, 0.01};
    const vexa::EnergyProblem problem{d.X, d.y, 20, 0.1, terms};
    const int saved = omp_get_max_threads();
    omp_set_num_threads(1);  // keep the runtime's own bookkeeping out of the comparison
    auto warmup = [&](int steps) {
        return allocations_during([&] { vexa::run_warmup(problem, 4, steps, 0.05, 42u); });
    };
    const std::vector<vexa::ChainState> elite = vexa::run_warmup(problem, 3, 50, 0.05, 42u);
    auto deep = [&](int steps, vexa::DeepSchedule schedule) {
        return allocations_during(
            [&] { vexa::run_deep_phase(problem, elite, steps, 0.05, 42u, 0.5, schedule); });
    };
    for (auto schedule : {vexa::DeepSchedule::sequential, vexa::DeepSchedule::parallel})
        EXPECT_EQ(deep(10, schedule), deep(2000, schedule));
    EXPECT_EQ(warmup(10), warmup(2000));
    omp_set_num_threads(saved);
}

}  // namespace
