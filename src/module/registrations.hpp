#pragma once
// One registration function per area, called by the module body in this order;
// the order is visible in the module's attribute dictionary.

#include <pybind11/pybind11.h>

namespace vexa::module {

void register_stats(pybind11::module_& m);
void register_basis(pybind11::module_& m);
void register_fit(pybind11::module_& m);
void register_gibbs(pybind11::module_& m);
void register_mcmc(pybind11::module_& m);

}  // namespace vexa::module
