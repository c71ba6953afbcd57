#include "fit/least_squares.hpp"

#include "common/checks.hpp"

#include <Eigen/SVD>

#include <limits>

namespace vexa {

Eigen::VectorXd ols(const Eigen::MatrixXd& X, const Eigen::VectorXd& y) {
    require_rows(X, "X", y.size(), "y");
    const Eigen::Index p = X.cols();
    require_allocatable(p, 1);
    // Eigen's SVD of a matrix without rows or columns reads outside its storage.
    if (X.rows() == 0 || p == 0) return Eigen::VectorXd::Zero(p);

    const Eigen::BDCSVD<Eigen::MatrixXd> svd(X, Eigen::ComputeThinU | Eigen::ComputeThinV);
    // A NaN or infinite entry leaves the factors and singular values unset
    // (InvalidInput): the solve would read uninitialised memory.
    if (svd.info() != Eigen::Success)
        return Eigen::VectorXd::Constant(p, std::numeric_limits<double>::quiet_NaN());
    return svd.solve(y);
}

}  // namespace vexa
