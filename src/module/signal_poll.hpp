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

}  // namespace vexa::module
