#include "basis/design_matrix_1d.hpp"
#include "basis/design_matrix_nd.hpp"
#include "basis/penalties_1d.hpp"
#include "basis/penalties_nd.hpp"
#include "module/registrations.hpp"
#include "module/signal_poll.hpp"

#include <pybind11/stl.h>

namespace py = pybind11;

namespace vexa::module {

void register_basis(py::module_& m) {
    m.def(
        "design_matrix_1d",
        [](int deg, const Eigen::VectorXd& x) {
            return vexa::design_matrix_1d(deg, x, cancel_on_signal());
        },
        py::arg("deg"), py::arg("x"));
    m.def(
        "smoothness_penalty_matrices_1d",
        [](int deg, double x_min, double x_max, int n_grid) {
            return vexa::smoothness_penalty_matrices_1d(deg, x_min, x_max, n_grid,
                                                        cancel_on_signal());
        },
        py::arg("deg"), py::arg("x_min"), py::arg("x_max"), py::arg("n_grid") = 600);
    m.def("boundary_reduce_1d", &vexa::boundary_reduce_1d, py::arg("deg"), py::arg("x_min"),
          py::arg("x_max"));
    m.def(
        "design_matrix_nd",
        [](const MultiIndexList& multi_indices, const std::vector<Eigen::VectorXd>& X_cols) {
            return vexa::design_matrix_nd(multi_indices, X_cols, cancel_on_signal());
        },
        py::arg("multi_indices"), py::arg("X_cols"));
    m.def(
        "build_penalty_matrices_nd",
        [](const std::vector<int>& degrees, const Bounds& bounds, int n_grid_per_dim) {
            return vexa::build_penalty_matrices_nd(degrees, bounds, n_grid_per_dim,
                                                   cancel_on_signal());
        },
        py::arg("degrees"), py::arg("bounds"), py::arg("n_grid_per_dim") = 30);
}

}  // namespace vexa::module
