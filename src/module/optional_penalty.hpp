#pragma once
// The optional penalty arguments R1 and R2: only None means absent; any other
// object is converted to a Matrix when the call runs, and a failed conversion
// raises pybind11's cast error (RuntimeError).

#include <Eigen/Core>
#include "module/eigen_conversion.hpp"
#include <pybind11/pybind11.h>

#include <optional>

namespace vexa::module {

inline std::optional<Eigen::MatrixXd> optional_penalty(const pybind11::object& obj) {
    if (obj.is_none()) return std::nullopt;
    return obj.cast<Eigen::MatrixXd>();
}

inline const Eigen::MatrixXd* pointer_or_null(const std::optional<Eigen::MatrixXd>& R) {
    return R ? &*R : nullptr;
}

}  // namespace vexa::module
