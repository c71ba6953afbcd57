#include "basis/design_matrix_1d.hpp"

#include "common/checks.hpp"
#include "common/huge_pages.hpp"

#include <stdexcept>

namespace vexa {

Eigen::MatrixXd design_matrix_1d(int deg, const Eigen::VectorXd& x, const Cancellation& cancel) {
    if (deg < 0) throw std::invalid_argument("deg < 0");
    const Eigen::Index n = x.size();
    const Eigen::Index p = static_cast<Eigen::Index>(deg) + 1;
    require_allocatable(n, p);
    auto Phi = uninitialised<Eigen::MatrixXd>(n, p);
    if (n == 0) return Phi;  // nothing to fill, however many columns
    Phi.col(0).setOnes();
    ThrottledCheck check(cancel, n);
    for (Eigen::Index k = 1; k < p; ++k) {
        check.tick();
        Phi.col(k) = x.cwiseProduct(Phi.col(k - 1));
    }
    return Phi;
}

}  // namespace vexa
