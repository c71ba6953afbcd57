#include "basis/monomials.hpp"

#include "common/checks.hpp"

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace vexa {

double monomial_power(double x, int m) {
    if (m == 2) return x * x;
    return std::pow(x, static_cast<double>(m));
}

namespace {

void check_row_args(int deg, int order) {
    if (deg < -1)
        throw std::invalid_argument("deg is " + std::to_string(deg) + " but must be at least -1");
    if (order < 0 || order > 2)
        throw std::invalid_argument("order is " + std::to_string(order) +
                                    " but must be 0, 1 or 2");
}

}  // namespace

void monomial_row_into(int deg, double x, int order, Eigen::Ref<Eigen::VectorXd> out) {
    check_row_args(deg, order);
    const Eigen::Index p = static_cast<Eigen::Index>(deg) + 1;
    require_same_entries(out.size(), "out", p, "the basis");
    for (int k = 0; k <= deg; ++k) {
        double v;
        if (order == 0) {
            v = monomial_power(x, k);
        } else if (order == 1) {
            v = k == 0 ? 0.0 : static_cast<double>(k) * monomial_power(x, k - 1);
        } else {
            // k(k - 1) in 64 bits: it leaves the int range from k = 46342 on.
            const std::int64_t kk = static_cast<std::int64_t>(k) * (k - 1);
            v = k < 2 ? 0.0 : static_cast<double>(kk) * monomial_power(x, k - 2);
        }
        out[k] = v;
    }
}

Eigen::VectorXd monomial_row(int deg, double x, int order) {
    check_row_args(deg, order);
    const Eigen::Index p = static_cast<Eigen::Index>(deg) + 1;
    require_allocatable(p, 1);
    Eigen::VectorXd row(p);
    monomial_row_into(deg, x, order, row);
    return row;
}

}  // namespace vexa
