// The extension's entry point PyInit_vexa_core: pybind11's module macro gives the
// interpreter-version check, multi-phase initialisation and the per-interpreter
// module cache; the body sets the docstring and registers every area in order.

#include "module/registrations.hpp"

PYBIND11_MODULE(vexa_core, m) {
    m.doc() = "VEXA-P performans-kritik cekirdegi (C++/Eigen).";
    vexa::module::register_stats(m);
    vexa::module::register_basis(m);
    vexa::module::register_fit(m);
    vexa::module::register_gibbs(m);
    vexa::module::register_mcmc(m);
}
