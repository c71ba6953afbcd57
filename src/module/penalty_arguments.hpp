#pragma once
// The optional penalty arguments R1 and R2 of a call: only None means absent; any
// other object is converted to a Matrix when the call runs (R1 before R2, so a
// failure names R1's type first), and a failed conversion raises pybind11's cast
// error (RuntimeError).

#include "common/penalty_terms.hpp"

#include <pybind11/pybind11.h>
#include <Eigen/Core>

#include <optional>

namespace vexa::module {

// Owns the converted matrices for the duration of the call.
class PenaltyArguments {
public:
    PenaltyArguments(const pybind11::object& R1, const pybind11::object& R2, double gamma1,
                     double gamma2)
        : R1_(convert(R1)), R2_(convert(R2)), gamma1_(gamma1), gamma2_(gamma2) {}

    PenaltyTerms terms() const {
        return PenaltyTerms{R1_ ? &*R1_ : nullptr, R2_ ? &*R2_ : nullptr, gamma1_, gamma2_};
    }

private:
    static std::optional<Eigen::MatrixXd> convert(const pybind11::object& obj) {
        if (obj.is_none()) return std::nullopt;
        return obj.cast<Eigen::MatrixXd>();
    }

    std::optional<Eigen::MatrixXd> R1_;
    std::optional<Eigen::MatrixXd> R2_;
    double gamma1_;
    double gamma2_;
};

}  // namespace vexa::module
