#pragma once
// Robust statistics of residual-type data: median, median absolute deviation
// and the success rate of predictions against observations.

#include <Eigen/Core>

#include <cstdint>

namespace vexa {

// Median by selection; reorders its own copy. An empty sequence gives 0.0.
double median(Eigen::VectorXd v);

// The same on the caller's sequence, which it reorders.
double median_in_place(Eigen::VectorXd& v);

// Raw median absolute deviation (no consistency factor); empty y gives 0.0.
double mad(const Eigen::VectorXd& y);

// Share of the n = len(yt) points with eps > |yp_i - yt_i|, floored at 1/(2n).
// yp may be longer than yt (extra entries ignored), never shorter.
double compute_sr(const Eigen::VectorXd& yp, const Eigen::VectorXd& yt, double eps);

// The rate of `hits` successes among n points, floored at 1/(2n) (NaN for n = 0).
double success_rate(std::int64_t hits, Eigen::Index n);

}  // namespace vexa
