#include "mcmc/row_panels.hpp"

#include "common/checks.hpp"
#include "common/huge_pages.hpp"
#include "kernels/success_count.hpp"
#include "mcmc/lockstep.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

namespace vexa {

std::vector<double> sampler_row_panels(const Eigen::MatrixXd& X, const Cancellation& cancel) {
    const std::int64_t n = X.rows();
    const std::int64_t p = X.cols();
    if (stays_in_cache(X) || p == 0) return {};
    std::vector<double> panels;
    try {
        require_allocatable(row_panel_size(n, p), 1);
        // Advised before the first write: the fit streams the panels at every step.
        const auto size = static_cast<std::size_t>(row_panel_size(n, p));
        panels.reserve(size);
        advise_huge_pages(panels.data(), size * sizeof(double));
        panels.resize(size);
    } catch (const std::bad_alloc&) {
        return {};  // the energy reads X in columns instead, with the same bits
    }
    // Chunks of about a million doubles between checks.
    const std::int64_t blocks = n / 8;
    const std::int64_t chunk = std::max<std::int64_t>(1, (std::int64_t{1} << 20) / (8 * p));
    for (std::int64_t first = 0; first < blocks; first += chunk) {
        cancel.check();
        pack_row_panels(X.data(), n, p, first, std::min(blocks, first + chunk), panels.data());
    }
    return panels;
}

}  // namespace vexa
