#pragma once
// Description-length scores of a fitted model: a model cost k^2 ln(2H) / n plus
// the data cost -n ln(sr), optionally with weighted quadratic smoothness penalties.

#include <Eigen/Core>

namespace vexa {

// Refers to the optional penalties of one call; owns nothing.
struct PenaltyTerms {
    const Eigen::MatrixXd* R1 = nullptr;  // p x p or absent
    const Eigen::MatrixXd* R2 = nullptr;  // p x p or absent
    double gamma1 = 0.0;
    double gamma2 = 0.0;
};

// Success tolerance from the spread of the observations: 0.4 * mad(yt), or 0.4.
double sr_eps(const Eigen::VectorXd& yt);

// beta^T R beta; an R with zero rows gives 0.0.
double quad_penalty(const Eigen::VectorXd& beta, const Eigen::MatrixXd& R);

// The same, with R * beta formed in `work` (resized only when its size differs),
// so that a caller that keeps `work` allocates nothing.
double quad_penalty(const Eigen::VectorXd& beta, const Eigen::MatrixXd& R, Eigen::VectorXd& work);

// The score for a given tolerance. beta or terms may be null (no penalty).
// A penalty is read only when its weight is not 0.0 (NaN counts as non-zero).
// Shapes are the caller's to check; this is the sampler's energy.
double mdl_score_core(const Eigen::VectorXd& yp, const Eigen::VectorXd& yt, int k, int H,
                      double eps, const Eigen::VectorXd* beta, const PenaltyTerms* terms,
                      Eigen::VectorXd& work);
double mdl_score_core(const Eigen::VectorXd& yp, const Eigen::VectorXd& yt, int k, int H,
                      double eps, const Eigen::VectorXd* beta, const PenaltyTerms* terms);

// The model term (C / n) k of the score, C = k ln(2H) for k > 0 and 0 otherwise.
double model_cost(Eigen::Index n, int k, int H);

// The same score from its model term model_cost(n, k, H) and the success rate
// sr = compute_sr(yp, yt, eps) of n points, for callers that count the
// successes themselves and form the model term once.
double mdl_score_from_rate(double model, double sr, Eigen::Index n, const Eigen::VectorXd* beta,
                           const PenaltyTerms* terms, Eigen::VectorXd& work);

double mdl_score(const Eigen::VectorXd& yp, const Eigen::VectorXd& yt, int k, int H);

double mdl_score_reg(const Eigen::VectorXd& yp, const Eigen::VectorXd& yt, int k, int H,
                     const Eigen::VectorXd& beta, const Eigen::MatrixXd& R1,
                     const Eigen::MatrixXd& R2, double gamma1, double gamma2);

// Throws ValueError unless every penalty that will be read is p x p.
void check_penalty_shapes(const PenaltyTerms& terms, Eigen::Index p, const char* p_source);

}  // namespace vexa
