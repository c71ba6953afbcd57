#pragma once
// Python code can make an instance of a registered class without running any
// constructor: cls.__new__(cls), or the base class's __new__. pybind11 then
// allocates the record's storage the first time an attribute or method uses it,
// and would hand out memory that nothing has written. The records are plain
// values, so such a bare instance instead gets a default-constructed record:
// zeros for GibbsResult and MCMCResult (an empty beta_mcmc), the default
// settings for TournamentMCMC. Instances made by constructors and results are
// untouched: their storage is allocated and written by the constructor itself.

#include <pybind11/pybind11.h>

#include <cstddef>
#include <new>
#include <typeinfo>

namespace vexa::module {

template <typename Record>
void default_construct_bare_instances() {
    static_assert(alignof(Record) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    // pybind11 frees this storage with ::operator delete when no constructor ran.
    pybind11::detail::get_type_info(typeid(Record))->operator_new = [](std::size_t size) -> void* {
        void* storage = ::operator new(size);
        return new (storage) Record{};
    };
}

}  // namespace vexa::module
