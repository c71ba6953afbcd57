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

// Gram matrices of one dimension on its grid, for derivative orders 0, 1, 2,
// weighted by the dimension's step s = (hi - lo) / (G - 1):
// gram[o][k][l] = s * sum_i (d^o x^k / dx^o)(d^o x^l / dx^o) at point i. The
// common weight w of the grid is the product of the steps, so the Kronecker
// products carry it factor by factor and stay near the size of the result
// instead of growing as G^d (and overflowing, for hundreds of dimensions). The
// sum is c_k c_l * S[k + l - 2o], c the falling-factorial factor of the derivative, so
// only the power sums S[t] = sum_i x_i^t, t = 0 ... 2D, touch the grid: 2D
// multiplications per point (running powers) instead of a table of pow calls.
struct DimensionGrams {
    Eigen::MatrixXd gram[3];
};

DimensionGrams dimension_grams(int D, double lo, double hi, int G, const Cancellation& cancel) {
    const auto points = Eigen::VectorXd::LinSpaced(G, lo, hi);  // evaluated point by point
    const Eigen::Index p = static_cast<Eigen::Index>(D) + 1;
    Eigen::VectorXd S = Eigen::VectorXd::Zero(2 * p - 1);
    ThrottledCheck check(cancel, S.size());
    for (int i = 0; i < G; ++i) {
        check.tick();
        const double x = points.coeff(i);
        double xt = 1.0;
        for (Eigen::Index t = 0; t < S.size(); ++t) {
            S[t] += xt;
            xt *= x;
        }
    }
    const double step = (hi - lo) / static_cast<double>(G - 1);
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
                g(k, l) = step * ((factor(k) * factor(l)) * S[k + l - 2 * o]);
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
                        const std::vector<int>& orders, double scale, const Cancellation& cancel) {
    const std::size_t d = grams.size();
    Eigen::MatrixXd P = Eigen::MatrixXd::Ones(1, 1);
    for (std::size_t j = 0; j + 1 < d; ++j) {
        cancel.check();
        P = kron(P, grams[j].gram[orders[j]]);
    }
    cancel.check();
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
                                      int n_grid_per_dim, const Cancellation& cancel) {
    // R1, R2 and at most one Kronecker prefix of up to q x q are alive at once.
    const Eigen::Index q = check_arguments(degrees, bounds, n_grid_per_dim, 3);
    MultiIndexList M = enumerate_multi_indices(degrees);
    const std::size_t d = degrees.size();

    std::vector<DimensionGrams> grams;
    grams.reserve(d);
    for (std::size_t j = 0; j < d; ++j)
        grams.push_back(
            dimension_grams(degrees[j], bounds[j].first, bounds[j].second, n_grid_per_dim, cancel));

    // A derivative of higher order than a dimension's degree has an all-zero Gram
    // matrix, and with finite factors the whole term is zero: only the terms of
    // dimensions that can carry a derivative are formed, so a basis with many
    // constant dimensions costs no more than one without them. Non-finite
    // factors keep every term, so that they still reach the result.
    bool all_finite = true;
    for (const DimensionGrams& g : grams)
        for (const Eigen::MatrixXd& m : g.gram) all_finite = all_finite && m.allFinite();
    auto vanishes = [&](std::size_t j, int order) {
        return all_finite && (grams[j].gram[order].array() == 0.0).all();
    };
    std::vector<std::size_t> sloped;  // dimensions whose first derivative term can be non-zero
    for (std::size_t j = 0; j < d; ++j)
        if (!vanishes(j, 1)) sloped.push_back(j);

    Eigen::MatrixXd S1 = Eigen::MatrixXd::Zero(q, q);
    Eigen::MatrixXd S2 = Eigen::MatrixXd::Zero(q, q);
    std::vector<int> orders(d, 0);
    for (std::size_t a : sloped) {
        // d^2/dx_a^2, and the mixed pair (a, b), b > a, which the ordered-pair sum
        // counts twice.
        orders[a] = 2;
        if (!vanishes(a, 2)) add_kronecker_term(S2, grams, orders, 1.0, cancel);
        orders[a] = 1;
        for (std::size_t b : sloped) {
            if (b <= a) continue;
            orders[b] = 1;
            add_kronecker_term(S2, grams, orders, 2.0, cancel);
            orders[b] = 0;
        }
        add_kronecker_term(S1, grams, orders, 1.0, cancel);  // d/dx_a
        orders[a] = 0;
    }
    return {std::move(S1), std::move(S2), std::move(M)};
}

}  // namespace vexa
