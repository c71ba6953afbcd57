#pragma once
// The module runs only in the main interpreter. Its binding library keeps its
// state with the main interpreter and takes that interpreter's lock on loading,
// so an import from a sub-interpreter (as embedders such as mod_wsgi make) would
// wait forever for a lock its own thread holds. The entry point refuses such an
// import with ImportError before it does anything else. Newer interpreters reuse
// the module definition that the main interpreter's import cached and skip the
// entry point, so the module body refuses too.

#include <Python.h>

#include <stdexcept>

namespace vexa::module {

inline constexpr const char* kMainInterpreterOnly =
    "vexa_core supports only the main interpreter; it cannot be imported in a sub-interpreter";

inline bool in_main_interpreter() { return PyInterpreterState_Get() == PyInterpreterState_Main(); }

// For the entry point: true when loading may go on; otherwise sets ImportError
// and returns false.
inline bool loading_in_main_interpreter() {
    if (in_main_interpreter()) return true;
    PyErr_SetString(PyExc_ImportError, kMainInterpreterOnly);
    return false;
}

// For the module body: the binding library turns the exception into ImportError
// with this message.
inline void require_main_interpreter() {
    if (!in_main_interpreter()) throw std::runtime_error(kMainInterpreterOnly);
}

}  // namespace vexa::module
