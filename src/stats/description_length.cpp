#include "stats/description_length.hpp"

#include "common/checks.hpp"
#include "stats/robust_stats.hpp"

#include <cmath>

namespace vexa {

double sr_eps(const Eigen::VectorXd& yt) {
    const double m = mad(yt);
    return m > 0 ? 0.4 * m : 0.4 * 1.0;  // a NaN spread is not positive
}

double quad_penalty(const Eigen::VectorXd& beta, const Eigen::MatrixXd& R, Eigen::VectorXd& work) {
    const Eigen::Index m = R.rows();
    if (m == 0) return 0.0;
    if (work.size() != m) work.resize(m);
    work.noalias() = R * beta;
    return beta.head(m).dot(work);
}

double quad_penalty(const Eigen::VectorXd& beta, const Eigen::MatrixXd& R) {
    Eigen::VectorXd work;
    return quad_penalty(beta, R, work);
}

double mdl_score_core(const Eigen::VectorXd& yp, const Eigen::VectorXd& yt, int k, int H,
                      double eps, const Eigen::VectorXd* beta, const PenaltyTerms* terms,
                      Eigen::VectorXd& work) {
    return mdl_score_from_rate(model_cost(yt.size(), k, H), compute_sr(yp, yt, eps), yt.size(),
                               beta, terms, work);
}

double model_cost(Eigen::Index count, int k, int H) {
    const double n = static_cast<double>(count);
    const double C = k > 0 ? static_cast<double>(k) * std::log(2.0 * static_cast<double>(H)) : 0.0;
    return (C / n) * static_cast<double>(k);
}

double mdl_score_from_rate(double model, double sr, Eigen::Index count, const Eigen::VectorXd* beta,
                           const PenaltyTerms* terms, Eigen::VectorXd& work) {
    double base = mdl_score_from_rate(model, sr, count);
    if (beta == nullptr || terms == nullptr) return base;
    terms->for_each_used([&](const Eigen::MatrixXd& R, double gamma, const char*) {
        base = gamma * quad_penalty(*beta, R, work) + base;
    });
    return base;
}

double mdl_score_from_rate(double model, double sr, Eigen::Index count) {
    return model - static_cast<double>(count) * std::log(sr);
}

double mdl_score_core(const Eigen::VectorXd& yp, const Eigen::VectorXd& yt, int k, int H,
                      double eps, const Eigen::VectorXd* beta, const PenaltyTerms* terms) {
    Eigen::VectorXd work;
    return mdl_score_core(yp, yt, k, H, eps, beta, terms, work);
}

double mdl_score(const Eigen::VectorXd& yp, const Eigen::VectorXd& yt, int k, int H) {
    require_entries(yp.size(), "yp", yt.size(), "yt");
    return mdl_score_core(yp, yt, k, H, sr_eps(yt), nullptr, nullptr);
}

double mdl_score_reg(const Eigen::VectorXd& yp, const Eigen::VectorXd& yt, int k, int H,
                     const Eigen::VectorXd& beta, const Eigen::MatrixXd& R1,
                     const Eigen::MatrixXd& R2, double gamma1, double gamma2) {
    require_entries(yp.size(), "yp", yt.size(), "yt");
    const PenaltyTerms terms{&R1, &R2, gamma1, gamma2};
    check_penalty_shapes(terms, beta.size(), "beta");
    return mdl_score_core(yp, yt, k, H, sr_eps(yt), &beta, &terms);
}

}  // namespace vexa
