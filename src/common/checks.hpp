#pragma once
// Argument checks shared by the operations: each throws std::invalid_argument
// (ValueError in Python) with a message naming the arguments and the sizes seen,
// before anything is computed or allocated.

#include <Eigen/Core>

#include <string>

namespace vexa {

// "<name> has <have> entries but <other> has <need>" when have < need.
void require_entries(Eigen::Index have, const char* name, Eigen::Index need, const char* other);

// "<name> has <have> entries but <other> has <need>" when have != need.
void require_same_entries(Eigen::Index have, const char* name, Eigen::Index need,
                          const char* other);

// A penalty that will be read must be p x p; `source` says where p comes from,
// e.g. "beta has 4 entries" or "Phi has 4 columns".
void require_square_penalty(const Eigen::MatrixXd& R, const char* name, Eigen::Index p,
                            const std::string& source);

}  // namespace vexa
