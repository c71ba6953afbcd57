#include "fit/least_squares.hpp"
#include "fit/penalized_fit.hpp"
#include "module/design_as_given.hpp"
#include "module/matrix_view_argument.hpp"
#include "module/penalty_arguments.hpp"
#include "module/registrations.hpp"

namespace py = pybind11;

namespace vexa::module {

void register_fit(py::module_& m) {
    m.def(
        "ols",
        [](MatrixViewArgument& X, const Eigen::VectorXd& y) {
            return fit_design_as_given(
                X, [&](const StridedMatrix& design, const Cancellation& cancel) {
                    return vexa::ols(design, y, cancel);
                });
        },
        py::arg("X"), py::arg("y"));
    m.def(
        "fit_regularized_linear",
        [](MatrixViewArgument& Phi, const Eigen::VectorXd& y, const py::object& R1,
           const py::object& R2, double gamma1, double gamma2, double ridge) {
            const PenaltyArguments penalties(R1, R2, gamma1, gamma2);
            return fit_design_as_given(Phi, [&](const StridedMatrix& design,
                                                const Cancellation& cancel) {
                return vexa::fit_regularized_linear(design, y, penalties.terms(), ridge, cancel);
            });
        },
        py::arg("Phi"), py::arg("y"), py::arg("R1") = py::none(), py::arg("R2") = py::none(),
        py::arg("gamma1") = 0.0, py::arg("gamma2") = 0.0, py::arg("ridge") = 1e-10);
}

}  // namespace vexa::module
