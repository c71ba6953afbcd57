#include "mcmc/tournament_mcmc.hpp"
#include "module/bare_instances.hpp"
#include "module/penalty_arguments.hpp"
#include "module/registrations.hpp"
#include "module/signal_poll.hpp"

#include <cstdint>

namespace py = pybind11;

namespace vexa::module {

void register_mcmc(py::module_& m) {
    // Read-only views into the result: beta_mcmc is a non-writeable array over the
    // result's own vector and gibbs refers to its record; both keep it alive
    // (def_readonly returns with reference_internal).
    py::class_<MCMCResult>(m, "MCMCResult")
        .def_readonly("beta_mcmc", &MCMCResult::beta_mcmc)
        .def_readonly("energy", &MCMCResult::energy)
        .def_readonly("gibbs", &MCMCResult::gibbs)
        .def_readonly("n_chains", &MCMCResult::n_chains)
        .def_readonly("n_elite", &MCMCResult::n_elite);
    default_construct_bare_instances<MCMCResult>();

    // The interpreter lock stays held for the whole fit; the worker threads of the
    // warm-up and deep phases touch no Python object, and only the calling thread
    // polls for signals.
    py::class_<TournamentMCMC>(m, "TournamentMCMC")
        .def(py::init([](std::int32_t n_chains, std::int32_t n_warmup, std::int32_t n_deep,
                         std::int32_t n_elite, double step_size, std::int32_t H_piH,
                         std::uint64_t seed) {
                 return TournamentMCMC{n_chains, n_warmup, n_deep, n_elite, step_size, H_piH, seed};
             }),
             py::arg("n_chains") = 25, py::arg("n_warmup") = 200, py::arg("n_deep") = 2000,
             py::arg("n_elite") = 5, py::arg("step_size") = 0.05, py::arg("H_piH") = 20,
             py::arg("seed") = 42)
        .def(
            "fit",
            [](const TournamentMCMC& self, const Eigen::MatrixXd& X, const Eigen::VectorXd& y,
               const py::object& R1, const py::object& R2, double gamma1, double gamma2) {
                const PenaltyArguments penalties(R1, R2, gamma1, gamma2);
                return self.fit(X, y, penalties.terms(), cancel_on_signal());
            },
            py::arg("X"), py::arg("y"), py::arg("R1") = py::none(), py::arg("R2") = py::none(),
            py::arg("gamma1") = 0.0, py::arg("gamma2") = 0.0);
    default_construct_bare_instances<TournamentMCMC>();
}

}  // namespace vexa::module
