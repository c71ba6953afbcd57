#include "module/registrations.hpp"
#include "stats/description_length.hpp"
#include "stats/robust_stats.hpp"

namespace py = pybind11;

namespace vexa::module {

void register_stats(py::module_& m) {
    m.def("mad", &vexa::mad, py::arg("y"));
    m.def("compute_sr", &vexa::compute_sr, py::arg("yp"), py::arg("yt"), py::arg("eps"));
    m.def("mdl_score", &vexa::mdl_score, py::arg("yp"), py::arg("yt"), py::arg("k"),
          py::arg("H") = 20);
    m.def("mdl_score_reg", &vexa::mdl_score_reg, py::arg("yp"), py::arg("yt"), py::arg("k"),
          py::arg("H"), py::arg("beta"), py::arg("R1"), py::arg("R2"), py::arg("gamma1") = 0.0,
          py::arg("gamma2") = 0.0);
}

}  // namespace vexa::module
