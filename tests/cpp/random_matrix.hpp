#pragma once
// Test data for the native tests: a matrix of standard normal draws, filled column
// by column from the caller's generator so that every test fixes its own seed.

#include <Eigen/Core>

#include <random>

inline Eigen::MatrixXd random_matrix(Eigen::Index rows, Eigen::Index cols, std::mt19937_64& gen) {
    std::normal_distribution<double> normal;
    Eigen::MatrixXd M(rows, cols);
    for (Eigen::Index j = 0; j < cols; ++j)
        for (Eigen::Index i = 0; i < rows; ++i) M(i, j) = normal(gen);
    return M;
}
