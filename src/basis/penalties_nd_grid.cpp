#include "basis/monomials.hpp"
#include "basis/penalties_nd.hpp"
#include "common/checks.hpp"

#include <utility>

namespace vexa {

namespace {

// T[o]: G x (D + 1), row i = monomial_row(D, point i, o).
struct DimensionTables {
    Eigen::MatrixXd table[3];
};

DimensionTables dimension_tables(int D, double lo, double hi, int G) {
    const Eigen::VectorXd points = Eigen::VectorXd::LinSpaced(G, lo, hi);
    const Eigen::Index p = static_cast<Eigen::Index>(D) + 1;
    DimensionTables out;
    Eigen::VectorXd row(p);
    for (int o = 0; o < 3; ++o) {
        out.table[o].resize(G, p);
        for (int i = 0; i < G; ++i) {
            monomial_row_into(D, points[i], o, row);
            out.table[o].row(i) = row.transpose();
        }
    }
    return out;
}

// Upper triangle := lower triangle; the diagonal stays as accumulated.
void mirror_lower(Eigen::MatrixXd& R) {
    for (Eigen::Index c = 1; c < R.cols(); ++c)
        for (Eigen::Index r = 0; r < c; ++r) R(r, c) = R(c, r);
}

}  // namespace

PenaltiesND build_penalty_matrices_nd_grid(const std::vector<int>& degrees, const Bounds& bounds,
                                           int n_grid_per_dim, const Cancellation& cancel) {
    const Eigen::Index q = check_penalty_nd_args(degrees, bounds, n_grid_per_dim, 2);
    const int G = n_grid_per_dim;
    const std::size_t d = degrees.size();
    const auto dd = static_cast<Eigen::Index>(d);
    Eigen::Index N = 1;
    for (std::size_t j = 0; j < d; ++j) N = checked_mul(N, G);
    require_allocatable(N, q);   // B
    require_allocatable(N, dd);  // digit tuples (ints, sized generously as doubles)

    MultiIndexList M = enumerate_multi_indices(degrees);
    const double w = tensor_grid_weight(bounds, G);
    std::vector<DimensionTables> tables;
    tables.reserve(d);
    for (std::size_t j = 0; j < d; ++j)
        tables.push_back(dimension_tables(degrees[j], bounds[j].first, bounds[j].second, G));

    // digits[g * d + j] = g_j, the base-G digits of g with dimension 0 fastest.
    std::vector<int> digits(static_cast<std::size_t>(N * dd));
    for (Eigen::Index g = 0; g < N; ++g) {
        Eigen::Index rest = g;
        for (std::size_t j = 0; j < d; ++j) {
            digits[static_cast<std::size_t>(g * dd) + j] = static_cast<int>(rest % G);
            rest /= G;
        }
    }

    Eigen::MatrixXd B(N, q);  // one derivative pattern at a time
    auto add_pattern = [&](Eigen::MatrixXd& R, const std::vector<int>& orders) {
        for (Eigen::Index c = 0; c < q; ++c) {
            cancel.check();
            const MultiIndex& m = M[static_cast<std::size_t>(c)];
            for (Eigen::Index g = 0; g < N; ++g) {
                const int* gd = &digits[static_cast<std::size_t>(g * dd)];
                double v = 1.0;
                for (std::size_t j = 0; j < d; ++j) v = v * tables[j].table[orders[j]](gd[j], m[j]);
                B(g, c) = v;
            }
        }
        R.selfadjointView<Eigen::Lower>().rankUpdate(B.transpose(), w);
    };

    Eigen::MatrixXd R1 = Eigen::MatrixXd::Zero(q, q);
    Eigen::MatrixXd R2 = Eigen::MatrixXd::Zero(q, q);
    std::vector<int> orders(d, 0);
    for (std::size_t a = 0; a < d; ++a)
        for (std::size_t b = 0; b < d; ++b) {
            orders.assign(d, 0);
            ++orders[a];
            ++orders[b];
            add_pattern(R2, orders);
        }
    for (std::size_t a = 0; a < d; ++a) {
        orders.assign(d, 0);
        orders[a] = 1;
        add_pattern(R1, orders);
    }
    mirror_lower(R2);
    mirror_lower(R1);
    return {std::move(R1), std::move(R2), std::move(M)};
}

}  // namespace vexa
