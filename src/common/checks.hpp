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

// "<name> has <rows> rows but <other> has <need> entries" when rows != need:
// a design matrix must have one row per observation.
// It takes the row count rather than the matrix, so that no Ref or Map is copied to ask.
void require_rows(Eigen::Index rows, const char* name, Eigen::Index need, const char* other);

// A penalty that will be read must be p x p; `source` says where p comes from,
// e.g. "beta gives p = 4", giving "R1 is 3 x 3 but must be 4 x 4 (beta gives p = 4)".
void require_square_penalty(const Eigen::MatrixXd& R, const char* name, Eigen::Index p,
                            const std::string& source);

// Size of a request for `count` blocks of rows x cols doubles, checked: throws
// std::bad_alloc (MemoryError in Python) when the count overflows Eigen::Index or
// the bytes exceed memory_budget_bytes() (physical memory, RLIMIT_AS, cgroup
// limit), so that an impossible request fails at once instead of after partial
// work or by exhausting memory. Requests up to 16 MiB are not compared.
void require_allocatable(Eigen::Index rows, Eigen::Index cols, Eigen::Index count = 1);

// a * b for non-negative sizes; throws std::bad_alloc when it overflows Eigen::Index.
Eigen::Index checked_mul(Eigen::Index a, Eigen::Index b);

}  // namespace vexa
