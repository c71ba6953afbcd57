#pragma once
// Smoothness penalties of the one-dimensional monomial basis and the boundary
// term of integrating f''^2 by parts.

#include "common/cancellation.hpp"

#include <Eigen/Core>

#include <tuple>

namespace vexa {

// (R1, R2), each p x p with p = deg + 1: for every beta with polynomial f,
//   beta' R1 beta = sum_i h f'(x_i)^2,   beta' R2 beta = sum_i h f''(x_i)^2,
// a rectangle sum over x_i = i*h + x_min, i = 0 ... n_grid - 1,
// h = (x_max - x_min) / (n_grid - 1). Memory does not grow with n_grid.
// Checks "deg < 0" first, then "n_grid < 2" (ValueError). The grid loop checks `cancel`.
std::tuple<Eigen::MatrixXd, Eigen::MatrixXd> smoothness_penalty_matrices_1d(
    int deg, double x_min, double x_max, int n_grid, const Cancellation& cancel = Cancellation());

// B (p x p, symmetric): beta' B beta = f'(x_max) f''(x_max) - f'(x_min) f''(x_min).
// deg = -1 gives 0 x 0; deg < -1 is a ValueError.
Eigen::MatrixXd boundary_reduce_1d(int deg, double x_min, double x_max);

}  // namespace vexa
