#pragma once
// A fit that reads its float64 design where it lies must see the design as it was
// when the call began. While it reads, no Python code may run: a signal handler
// that lets other threads run (a sleep, a lock, logging) would let them change the
// design mid-call, and the result would match neither the old design nor the new
// one. So the fit polls only for Ctrl-C. When Ctrl-C comes, the fit stops and the
// handlers run; if they return instead of raising, the fit starts again on a copy
// of the design taken before they ran. The default SIGINT handler always raises,
// so under it no copy is taken. Other signals' handlers run when the call returns.

#include "module/matrix_view_argument.hpp"
#include "module/signal_poll.hpp"

#include <pybind11/pybind11.h>

#include <csignal>

namespace vexa::module {

// Whether SIGINT's handler is the default one, which only raises KeyboardInterrupt.
// It asks the interpreter's C module _signal, as imported at start-up: the signal
// module's getsignal is Python code, and any Python code would run the pending handlers.
inline bool interrupt_handler_is_default() {
    namespace py = pybind11;
    const auto signal_module =
        py::reinterpret_steal<py::object>(PyImport_GetModule(py::str("_signal").ptr()));
    if (!signal_module) {
        PyErr_Clear();
        return false;
    }
    return signal_module.attr("getsignal")(SIGINT).is(signal_module.attr("default_int_handler"));
}

// fit(view, cancellation) on `design`, as the design was when the call began.
template <typename Fit>
auto fit_design_as_given(MatrixViewArgument& design, const Fit& fit) {
    if (!design.views_caller_storage()) return fit(design.view(), cancel_on_signal());
    try {
        return fit(design.view(), stop_on_pending_interrupt());
    } catch (const InterruptPending&) {
    }
    // Ctrl-C goes back on the interpreter's list first: should the copy fail
    // (MemoryError), its handler still runs as soon as the call has returned.
    PyErr_SetInterruptEx(SIGINT);
    if (!interrupt_handler_is_default()) design.keep_copy();
    if (PyErr_CheckSignals() != 0) throw pybind11::error_already_set();
    // Only reached under the default handler if a handler that ran before it replaced it.
    design.keep_copy();
    return fit(design.view(), cancel_on_signal());
}

}  // namespace vexa::module
