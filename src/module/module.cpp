// The extension's entry point PyInit_vexa_core: it refuses sub-interpreters, then
// pybind11's module macro gives the interpreter-version check, multi-phase
// initialisation and the per-interpreter module cache; the body sets the
// docstring and registers every area in order.

#include "common/thread_team.hpp"
#include "module/main_interpreter_only.hpp"
#include "module/registrations.hpp"

// The macro's entry point is renamed so that the one below runs first.
#define PyInit_vexa_core vexa_core_pybind11_entry
PYBIND11_MODULE(vexa_core, m) {
    vexa::module::require_main_interpreter();
    m.doc() = "VEXA-P performans-kritik cekirdegi (C++/Eigen).";
    vexa::guard_thread_team_across_fork();
    vexa::module::register_stats(m);
    vexa::module::register_basis(m);
    vexa::module::register_fit(m);
    vexa::module::register_gibbs(m);
    vexa::module::register_mcmc(m);
}
#undef PyInit_vexa_core

extern "C" PYBIND11_EXPORT PyObject* PyInit_vexa_core() {
    if (!vexa::module::loading_in_main_interpreter()) return nullptr;
    return vexa_core_pybind11_entry();
}
