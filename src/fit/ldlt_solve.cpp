#include "fit/ldlt_solve.hpp"

#include <cmath>
#include <limits>

namespace vexa {

template <typename Matrix>
Eigen::VectorXd ldlt_solve(const Eigen::LDLT<Matrix>& ldlt, const Eigen::VectorXd& b) {
    // A NaN pivot stops the factorization part-way: the factors then mix
    // finished and unfinished columns, and no component of a solve means anything.
    if (ldlt.vectorD().array().isNaN().any())
        return Eigen::VectorXd::Constant(b.size(), std::numeric_limits<double>::quiet_NaN());
    Eigen::VectorXd x = ldlt.transpositionsP() * b;
    ldlt.matrixL().solveInPlace(x);
    const Eigen::VectorXd d = ldlt.vectorD();
    const double tiny = std::numeric_limits<double>::min();
    for (Eigen::Index i = 0; i < d.size(); ++i) {
        // Written as "not above" so that NaN takes the division.
        if (std::abs(d[i]) <= tiny)
            x[i] = 0.0;
        else
            x[i] /= d[i];
    }
    ldlt.matrixU().solveInPlace(x);
    x = ldlt.transpositionsP().transpose() * x;
    return x;
}

template Eigen::VectorXd ldlt_solve(const Eigen::LDLT<Eigen::MatrixXd>&, const Eigen::VectorXd&);
template Eigen::VectorXd ldlt_solve(const Eigen::LDLT<Eigen::Ref<Eigen::MatrixXd>>&,
                                    const Eigen::VectorXd&);

}  // namespace vexa
