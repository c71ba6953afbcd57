#include "basis/design_matrix_nd.hpp"

#include "common/checks.hpp"
#include "common/huge_pages.hpp"

#include <stdexcept>
#include <string>

namespace vexa {

namespace {

void check_design_nd_args(const MultiIndexList& multi_indices,
                          const std::vector<Eigen::VectorXd>& X_cols) {
    if (X_cols.empty()) throw std::invalid_argument("X_cols has 0 entries but needs at least 1");
    const Eigen::Index n = X_cols[0].size();
    for (std::size_t j = 1; j < X_cols.size(); ++j) {
        if (X_cols[j].size() < n) {
            const std::string name = "X_cols[" + std::to_string(j) + "]";
            require_entries(X_cols[j].size(), name.c_str(), n, "X_cols[0]");
        }
    }
    const auto d = static_cast<Eigen::Index>(X_cols.size());
    for (std::size_t c = 0; c < multi_indices.size(); ++c) {
        const auto have = static_cast<Eigen::Index>(multi_indices[c].size());
        if (have < d) {
            const std::string name = "multi_indices[" + std::to_string(c) + "]";
            require_entries(have, name.c_str(), d, "X_cols");
        }
    }
}

}  // namespace

Eigen::MatrixXd design_matrix_nd(const MultiIndexList& multi_indices,
                                 const std::vector<Eigen::VectorXd>& X_cols,
                                 const Cancellation& cancel) {
    check_design_nd_args(multi_indices, X_cols);
    const Eigen::Index n = X_cols[0].size();
    const auto q = static_cast<Eigen::Index>(multi_indices.size());
    const std::size_t d = X_cols.size();
    require_allocatable(n, q);

    auto Phi = uninitialised<Eigen::MatrixXd>(n, q);
    ThrottledCheck check(cancel, checked_mul(n, static_cast<Eigen::Index>(d)));
    for (Eigen::Index c = 0; c < q; ++c) {
        check.tick();
        auto col = Phi.col(c).array();
        col.setOnes();
        const MultiIndex& m = multi_indices[static_cast<std::size_t>(c)];
        for (std::size_t j = 0; j < d; ++j) {
            const int e = m[j];
            if (e <= 0) continue;
            // Only the first n entries of a longer column belong to the sample.
            col = X_cols[j].head(n).array().pow(static_cast<double>(e)) * col;
        }
    }
    return Phi;
}

}  // namespace vexa
