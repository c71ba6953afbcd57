#pragma once
// Description-length scores of a fitted model: a model cost k^2 ln(2H) / n plus
// the data cost -n ln(sr), optionally with weighted quadratic smoothness penalties.

#include "common/penalty_terms.hpp"

#include <Eigen/Core>

namespace vexa {

// Success tolerance from the spread of the observations: 0.4 * mad(yt), or 0.4.
double sr_eps(const Eigen::VectorXd& yt);

// beta^T R beta; an R with zero rows gives 0.0.
double quad_penalty(const Eigen::VectorXd& beta, const Eigen::MatrixXd& R);

// The same, with R * beta formed in `work` (resized only when its size differs),
// so that a caller that keeps `work` allocates nothing.
double quad_penalty(const Eigen::VectorXd& beta, const Eigen::MatrixXd& R, Eigen::VectorXd& work);

// The score for a given tolerance. beta or terms may be null (no penalty); the
// penalties are those terms.for_each_used visits, R1's term added before R2's.
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
// The same without penalties: model - n ln(sr).
double mdl_score_from_rate(double model, double sr, Eigen::Index n);

double mdl_score(const Eigen::VectorXd& yp, const Eigen::VectorXd& yt, int k, int H);

double mdl_score_reg(const Eigen::VectorXd& yp, const Eigen::VectorXd& yt, int k, int H,
                     const Eigen::VectorXd& beta, const Eigen::MatrixXd& R1,
                     const Eigen::MatrixXd& R2, double gamma1, double gamma2);

}  // namespace vexa
