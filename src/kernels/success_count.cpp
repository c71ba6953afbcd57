#include "kernels/success_count.hpp"

#include <cstdint>
#include <stdexcept>

#define VEXA_KERNEL_BODY "kernels/success_count_body.inc"
#include "kernels/per_instruction_set.inc"

namespace vexa {

void require_lockstep_group(int group) {
    if (group < 1 || group > kMaxLockstep)
        throw std::invalid_argument("a lockstep group holds 1 to 8 coefficient vectors");
}

void count_successes(const double* X, std::int64_t n, std::int64_t p, const double* y, double eps,
                     const double* const* betas, int group, std::int64_t* hits, SimdPath path,
                     const double* panels) {
    require_lockstep_group(group);
    const auto count =
        kernel_for(path, baseline::count_any_group, avx2::count_any_group, avx512::count_any_group);
    count(X, n, p, panels, y, eps, betas, group, hits);
}

std::int64_t row_panel_size(std::int64_t n, std::int64_t p) { return n / 8 * 8 * p; }

void pack_row_panels(const double* X, std::int64_t n, std::int64_t p, std::int64_t first,
                     std::int64_t last, double* panels) {
    for (std::int64_t k = first; k < last; ++k)
        for (std::int64_t j = 0; j < p; ++j)
            for (std::int64_t r = 0; r < 8; ++r) panels[8 * (k * p + j) + r] = X[j * n + 8 * k + r];
}

}  // namespace vexa
