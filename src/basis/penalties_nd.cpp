#include "basis/penalties_nd.hpp"

#include "common/checks.hpp"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace vexa {

namespace {

// The argument checks in their documented order; returns q. `q_by_q` matrices of
// q x q are alive at once.
Eigen::Index check_arguments(const std::vector<int>& degrees, const Bounds& bounds,
                             int n_grid_per_dim, Eigen::Index q_by_q) {
    if (degrees.size() != bounds.size()) throw std::invalid_argument("Dimension mismatch.");
    require_nonnegative_degrees(degrees);
    if (n_grid_per_dim < 2)
        throw std::invalid_argument("n_grid_per_dim is " + std::to_string(n_grid_per_dim) +
                                    " but must be at least 2");
    const Eigen::Index q = tensor_basis_size(degrees);
    require_allocatable(q, q, q_by_q);
    return q;
}

// Gram matrices of one dimension on its grid, for derivative orders 0, 1, 2:
// gram[o][k][l] = sum_i (d^o x^k / dx^o)(d^o x^l / dx^o) at point i. The entry is
// c_k c_l * S[k + l - 2o], c the falling-factorial factor of the derivative, so
// only the power sums S[t] = sum_i x_i^t, t = 0 ... 2D, touch the grid: 2D
// multiplications per point (running powers) instead of a table of pow calls.
struct DimensionGrams {
    Eigen::MatrixXd gram[3];
};

DimensionGrams dimension_grams(int D, double lo, double hi, int G) {
    const auto points = Eigen::VectorXd::LinSpaced(G, lo, hi);  // evaluated point by point
    const Eigen::Index p = static_cast<Eigen::Index>(D) + 1;
    Eigen::VectorXd S = Eigen::VectorXd::Zero(2 * p - 1);
    for (int i = 0; i < G; ++i) {
        const double x = points.coeff(i);
        double xt = 1.0;
        for (Eigen::Index t = 0; t < S.size(); ++t) {
            S[t] += xt;
            xt *= x;
        }
    }
    DimensionGrams out;
    for (int o = 0; o < 3; ++o) {
        Eigen::MatrixXd& g = out.gram[o];
        g = Eigen::MatrixXd::Zero(p, p);
        auto factor = [o](Eigen::Index k) {  // 1, k or k(k - 1), in 64-bit integers
            const std::int64_t k64 = k;
            return static_cast<double>(o == 0 ? 1 : o == 1 ? k64 : k64 * (k64 - 1));
        };
        for (Eigen::Index l = o; l < p; ++l)
            for (Eigen::Index k = o; k < p; ++k)
                g(k, l) = (factor(k) * factor(l)) * S[k + l - 2 * o];
    }
    return out;
}

// K = P (x) F with the row index of P slowest: K[r*f + i][c*f + k] = P[r][c] F[i][k].
Eigen::MatrixXd kron(const Eigen::MatrixXd& P, const Eigen::MatrixXd& F) {
    const Eigen::Index a = P.rows(), f = F.rows();
    Eigen::MatrixXd K(a * f, a * f);
    for (Eigen::Index c = 0; c < a; ++c)
        for (Eigen::Index k = 0; k < f; ++k)
            for (Eigen::Index r = 0; r < a; ++r)
                for (Eigen::Index i = 0; i < f; ++i) K(r * f + i, c * f + k) = P(r, c) * F(i, k);
    return K;
}

// S += scale * (G_0^{o_0} (x) G_1^{o_1} (x) ... ), which is the term sum_g B[g][i] B[g][j]
// of the grid sum for the derivative orders o. The last factor is added straight
// into S, so no extra q x q matrix is formed.
void add_kronecker_term(Eigen::MatrixXd& S, const std::vector<DimensionGrams>& grams,
                        const std::vector<int>& orders, double scale) {
    const std::size_t d = grams.size();
    Eigen::MatrixXd P = Eigen::MatrixXd::Ones(1, 1);
    for (std::size_t j = 0; j + 1 < d; ++j) P = kron(P, grams[j].gram[orders[j]]);
    const Eigen::MatrixXd& F = grams[d - 1].gram[orders[d - 1]];
    const Eigen::Index a = P.rows(), f = F.rows();
    for (Eigen::Index c = 0; c < a; ++c)
        for (Eigen::Index k = 0; k < f; ++k)
            for (Eigen::Index r = 0; r < a; ++r)
                for (Eigen::Index i = 0; i < f; ++i)
                    S(r * f + i, c * f + k) += scale * (P(r, c) * F(i, k));
}

}  // namespace

PenaltiesND build_penalty_matrices_nd(const std::vector<int>& degrees, const Bounds& bounds,
                                      int n_grid_per_dim) {
    // R1, R2 and at most one Kronecker prefix of up to q x q are alive at once.
    const Eigen::Index q = check_arguments(degrees, bounds, n_grid_per_dim, 3);
    MultiIndexList M = enumerate_multi_indices(degrees);
    const double w = tensor_grid_weight(bounds, n_grid_per_dim);
    const std::size_t d = degrees.size();

    std::vector<DimensionGrams> grams;
    grams.reserve(d);
    for (std::size_t j = 0; j < d; ++j)
        grams.push_back(dimension_grams(degrees[j], bounds[j].first, bounds[j].second,
                                        n_grid_per_dim));

    Eigen::MatrixXd S1 = Eigen::MatrixXd::Zero(q, q);
    Eigen::MatrixXd S2 = Eigen::MatrixXd::Zero(q, q);
    std::vector<int> orders(d, 0);
    for (std::size_t a = 0; a < d; ++a) {
        // d^2/dx_a^2, and the mixed pair (a, b), b > a, which the ordered-pair sum
        // counts twice.
        orders[a] = 2;
        add_kronecker_term(S2, grams, orders, 1.0);
        orders[a] = 1;
        for (std::size_t b = a + 1; b < d; ++b) {
            orders[b] = 1;
            add_kronecker_term(S2, grams, orders, 2.0);
            orders[b] = 0;
        }
        add_kronecker_term(S1, grams, orders, 1.0);  // d/dx_a
        orders[a] = 0;
    }
    S1 *= w;
    S2 *= w;
    return {std::move(S1), std::move(S2), std::move(M)};
}

}  // namespace vexa
