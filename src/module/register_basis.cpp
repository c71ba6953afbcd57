#include "basis/design_matrix_1d.hpp"
#include "basis/design_matrix_nd.hpp"
#include "basis/penalties_1d.hpp"
#include "basis/penalties_nd.hpp"
#include "module/registrations.hpp"

#include <pybind11/stl.h>

namespace py = pybind11;

namespace vexa::module {

void register_basis(py::module_& m) {
    m.def("design_matrix_1d", &vexa::design_matrix_1d, py::arg("deg"), py::arg("x"));
    m.def("smoothness_penalty_matrices_1d", &vexa::smoothness_penalty_matrices_1d, py::arg("deg"),
          py::arg("x_min"), py::arg("x_max"), py::arg("n_grid") = 600);
    m.def("boundary_reduce_1d", &vexa::boundary_reduce_1d, py::arg("deg"), py::arg("x_min"),
          py::arg("x_max"));
    m.def("design_matrix_nd", &vexa::design_matrix_nd, py::arg("multi_indices"),
          py::arg("X_cols"));
    m.def("build_penalty_matrices_nd", &vexa::build_penalty_matrices_nd, py::arg("degrees"),
          py::arg("bounds"), py::arg("n_grid_per_dim") = 30);
}

}  // namespace vexa::module
