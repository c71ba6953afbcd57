#include "stats/robust_stats.hpp"

#include "common/checks.hpp"
#include "common/huge_pages.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vexa {

double median(Eigen::VectorXd v) { return median_in_place(v); }

double median_in_place(Eigen::VectorXd& v) {
    const Eigen::Index n = v.size();
    if (n == 0) return 0.0;
    const Eigen::Index mid = n / 2;
    double* first = v.data();
    std::nth_element(first, first + mid, first + n);
    if (n % 2 == 1) return v[mid];
    // After the selection the lower middle value is the largest of the front part.
    const double lo = *std::max_element(first, first + mid);
    return (lo + v[mid]) * 0.5;
}

double mad(const Eigen::VectorXd& y) {
    // One working copy serves both medians: after the first selection it holds y
    // reordered, and |y_i - m| over it is the same multiset of deviations.
    Eigen::VectorXd work = advised_copy(y);
    const double m = median_in_place(work);
    work = (work.array() - m).abs();
    return median_in_place(work);
}

double compute_sr(const Eigen::VectorXd& yp, const Eigen::VectorXd& yt, double eps) {
    const Eigen::Index n = yt.size();
    require_entries(yp.size(), "yp", n, "yt");
    const double* p = yp.data();
    const double* t = yt.data();
    std::int64_t hits = 0;
    // Strict comparison: a difference equal to eps, or NaN, is no success.
    for (Eigen::Index i = 0; i < n; ++i) hits += (eps > std::abs(p[i] - t[i])) ? 1 : 0;
    return success_rate(hits, n);
}

double success_rate(std::int64_t hits, Eigen::Index n) {
    const double rate = static_cast<double>(hits) / static_cast<double>(n);
    const double floor = 1.0 / (2.0 * static_cast<double>(n));
    return floor > rate ? floor : rate;
}

}  // namespace vexa
