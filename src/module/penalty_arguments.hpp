#pragma once
// The optional penalty arguments R1 and R2 of a call: only None means absent; any
// other object is converted to a Matrix when the call runs (R1 before R2, so a
// failure names R1's type first). A failed conversion raises RuntimeError with
// pybind11's short cast message, whatever its message settings, and a note that
// names the argument, what it must be and the type it was given.

#include "common/penalty_terms.hpp"

#include <pybind11/pybind11.h>
#include <Eigen/Core>

#include <optional>
#include <string>

namespace vexa::module {

// Owns the converted matrices for the duration of the call.
class PenaltyArguments {
public:
    PenaltyArguments(const pybind11::object& R1, const pybind11::object& R2, double gamma1,
                     double gamma2)
        : R1_(convert(R1, "R1")), R2_(convert(R2, "R2")), gamma1_(gamma1), gamma2_(gamma2) {}

    PenaltyTerms terms() const {
        return PenaltyTerms{R1_ ? &*R1_ : nullptr, R2_ ? &*R2_ : nullptr, gamma1_, gamma2_};
    }

private:
    static std::optional<Eigen::MatrixXd> convert(const pybind11::object& obj, const char* name) {
        if (obj.is_none()) return std::nullopt;
        pybind11::detail::make_caster<Eigen::MatrixXd> caster;
        if (!caster.load(obj, true)) raise_unconvertible(obj, name);
        return pybind11::detail::cast_op<Eigen::MatrixXd&&>(std::move(caster));
    }

    [[noreturn]] static void raise_unconvertible(const pybind11::object& obj, const char* name) {
        namespace py = pybind11;
        const std::string type = py::str(py::type::handle_of(obj));
        py::object error =
            py::module_::import("builtins")
                .attr("RuntimeError")("Unable to cast Python instance of type " + type +
                                      " to C++ type '?' (#define PYBIND11_DETAILED_ERROR_MESSAGES "
                                      "or compile in debug "
                                      "mode for details)");
        const py::handle cls = py::type::handle_of(obj);
        const std::string module = py::str(cls.attr("__module__"));
        std::string got = std::string(py::str(cls.attr("__qualname__")));
        if (module != "builtins") got = module + "." + got;
        if (py::isinstance<py::array>(obj)) {
            const auto array = py::reinterpret_borrow<py::array>(obj);
            got += " of dtype " + std::string(py::str(array.dtype())) + " and shape " +
                   std::string(py::str(obj.attr("shape")));
        }
        error.attr("add_note")(std::string(name) +
                               " must be None or convert to a float64 matrix: an array-like "
                               "of shape (m, n) or (m,) whose values cast to float64; got " +
                               got);
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
        throw py::error_already_set();
    }

    std::optional<Eigen::MatrixXd> R1_;
    std::optional<Eigen::MatrixXd> R2_;
    double gamma1_;
    double gamma2_;
};

}  // namespace vexa::module
