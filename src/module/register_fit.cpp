#include "fit/least_squares.hpp"
#include "fit/penalized_fit.hpp"
#include "module/optional_penalty.hpp"
#include "module/registrations.hpp"

#include "module/eigen_conversion.hpp"

namespace py = pybind11;

namespace vexa::module {

void register_fit(py::module_& m) {
    m.def("ols", &vexa::ols, py::arg("X"), py::arg("y"));
    m.def(
        "fit_regularized_linear",
        [](const Eigen::MatrixXd& Phi, const Eigen::VectorXd& y, const py::object& R1,
           const py::object& R2, double gamma1, double gamma2, double ridge) {
            // R1 is converted before R2, so a failure names R1's type first.
            const auto r1 = optional_penalty(R1);
            const auto r2 = optional_penalty(R2);
            return vexa::fit_regularized_linear(Phi, y, pointer_or_null(r1), pointer_or_null(r2),
                                                gamma1, gamma2, ridge);
        },
        py::arg("Phi"), py::arg("y"), py::arg("R1") = py::none(), py::arg("R2") = py::none(),
        py::arg("gamma1") = 0.0, py::arg("gamma2") = 0.0, py::arg("ridge") = 1e-10);
}

}  // namespace vexa::module
