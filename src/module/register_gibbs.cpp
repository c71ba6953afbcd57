#include "gibbs/gibbs_entropy.hpp"
#include "module/bare_instances.hpp"
#include "module/registrations.hpp"

namespace py = pybind11;

namespace vexa::module {

void register_gibbs(py::module_& m) {
    py::class_<GibbsResult>(m, "GibbsResult")
        .def_readonly("H", &GibbsResult::H)
        .def_readonly("Hmax", &GibbsResult::Hmax)
        .def_readonly("He", &GibbsResult::He)
        .def_readonly("r_heat", &GibbsResult::r_heat)
        .def_readonly("var_E", &GibbsResult::var_E)
        .def_readonly("T", &GibbsResult::T);
    default_construct_bare_instances<GibbsResult>();
    m.def("gibbs_entropy", &vexa::gibbs_entropy, py::arg("energies"), py::arg("T") = 1.0);
}

}  // namespace vexa::module
