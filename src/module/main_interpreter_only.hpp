#pragma once
// The module runs only in the main interpreter. Its binding library keeps its
// state with the main interpreter and takes that interpreter's lock on loading,
// so an import from a sub-interpreter (as embedders such as mod_wsgi make) would
// wait forever for a lock its own thread holds. The entry point refuses such an
// import with ImportError before it does anything else.

#include <Python.h>

namespace vexa::module {

// True when loading may go on; otherwise sets ImportError and returns false.
inline bool loading_in_main_interpreter() {
    if (PyInterpreterState_Get() == PyInterpreterState_Main()) return true;
    PyErr_SetString(PyExc_ImportError,
                    "vexa_core supports only the main interpreter; it cannot be imported in a "
                    "sub-interpreter");
    return false;
}

}  // namespace vexa::module
