#pragma once
// Evaluation of the monomial basis x^0, x^1, ..., x^deg and of its first and
// second derivatives at one point. Penalty builders go through these routines;
// design matrices use running products instead (the two differ in the last bit
// for powers of 3 and above).

#include <Eigen/Core>

namespace vexa {

// x * x when m == 2 (one rounding), otherwise the C library pow(x, m); m >= 0.
double monomial_power(double x, int m);

// Entry k of the derivative of order 0, 1 or 2 of x^k, for k = 0 ... deg:
//   order 0: monomial_power(x, k)
//   order 1: k * monomial_power(x, k - 1), 0.0 for k = 0
//   order 2: k(k - 1) * monomial_power(x, k - 2), 0.0 for k < 2
// deg = -1 gives an empty row; deg < -1 or another order is a ValueError.
Eigen::VectorXd monomial_row(int deg, double x, int order);

// The same row written into out, which must already hold deg + 1 entries;
// lets per-point loops reuse one buffer.
void monomial_row_into(int deg, double x, int order, Eigen::Ref<Eigen::VectorXd> out);

// The first and second derivative rows at x together, equal bit for bit to
// monomial_row(deg, x, 1) and monomial_row(deg, x, 2): entry k of the two uses
// x^(k-1) and x^(k-2), so each power is computed once for both rows.
void derivative_rows_into(int deg, double x, Eigen::Ref<Eigen::VectorXd> d1,
                          Eigen::Ref<Eigen::VectorXd> d2);

}  // namespace vexa
