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
        throw std::invalid_argument("order is " + std::to_string(order) + " but must be 0, 1 or 2");
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

void derivative_rows_into(int deg, double x, Eigen::Ref<Eigen::VectorXd> d1,
                          Eigen::Ref<Eigen::VectorXd> d2) {
    check_row_args(deg, 2);
    const Eigen::Index p = static_cast<Eigen::Index>(deg) + 1;
    require_same_entries(d1.size(), "d1", p, "the basis");
    require_same_entries(d2.size(), "d2", p, "the basis");
    double power_k_minus_2 = 0.0;  // monomial_power(x, k - 2) once k >= 2
    for (int k = 0; k <= deg; ++k) {
        if (k == 0) {
            d1[0] = 0.0;
            d2[0] = 0.0;
            continue;
        }
        const double power_k_minus_1 = monomial_power(x, k - 1);
        d1[k] = static_cast<double>(k) * power_k_minus_1;
        const std::int64_t kk = static_cast<std::int64_t>(k) * (k - 1);
        d2[k] = k < 2 ? 0.0 : static_cast<double>(kk) * power_k_minus_2;
        power_k_minus_2 = power_k_minus_1;
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
