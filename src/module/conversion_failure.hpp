#pragma once
// What a failed conversion step does with the Python error it left behind. Most
// errors say only that the argument does not fit (the binding library then reports
// incompatible arguments), but three say nothing about the argument: running out of
// memory, Ctrl-C and sys.exit(), raised from a caller's __array__, __float__,
// __index__ or a sequence's items. Those reach the caller unchanged.

#include <Python.h>
#include <pybind11/pybind11.h>

namespace vexa::module {

// With the error indicator set: throws it on for MemoryError, KeyboardInterrupt and
// SystemExit (and their subclasses), clears anything else.
inline void clear_conversion_error() {
    if (PyErr_ExceptionMatches(PyExc_MemoryError) ||
        PyErr_ExceptionMatches(PyExc_KeyboardInterrupt) || PyErr_ExceptionMatches(PyExc_SystemExit))
        throw pybind11::error_already_set();
    PyErr_Clear();
}

}  // namespace vexa::module
