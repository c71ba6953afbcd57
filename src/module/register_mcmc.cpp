#include "module/registrations.hpp"

namespace py = pybind11;

namespace vexa::module {

void register_mcmc(py::module_& m) { (void)m; }

}  // namespace vexa::module
