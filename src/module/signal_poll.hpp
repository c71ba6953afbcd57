#pragma once
// Long operations stop on Ctrl-C: their cancellation polls the interpreter for
// pending signals. PyErr_CheckSignals runs the Python signal handlers on the
// calling thread (which holds the interpreter lock); when one raises, such as
// the default SIGINT handler raising KeyboardInterrupt, the operation unwinds
// and the binding re-raises that exception. On threads other than the main one
// the interpreter runs no handlers, so calls made there run to the end.

#include "common/cancellation.hpp"

#include <pybind11/pybind11.h>

namespace vexa::module {

inline vexa::Cancellation cancel_on_signal() {
    return vexa::Cancellation([] {
        if (PyErr_CheckSignals() != 0) throw pybind11::error_already_set();
    });
}

// Thrown by stop_on_pending_interrupt's poll: Ctrl-C is pending, and its handler
// has not run.
struct InterruptPending {};

// A poll that runs no Python code: it stops the operation when Ctrl-C is pending
// (taking it off the interpreter's list, so the caller must hand it back), and
// leaves every other signal, and the garbage collector that PyErr_CheckSignals may
// also run, for later. For operations that read the caller's own arrays, which
// Python code could change while they do.
inline vexa::Cancellation stop_on_pending_interrupt() {
    return vexa::Cancellation([] {
        if (PyOS_InterruptOccurred() != 0) throw InterruptPending();
    });
}

}  // namespace vexa::module
