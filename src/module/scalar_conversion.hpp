#pragma once
// Conversion of int, float and seed arguments: pybind11's own conversion of
// arithmetic types (the same accepted inputs and results), except that a
// MemoryError, KeyboardInterrupt or SystemExit raised by the argument's
// __index__, __int__ or __float__ reaches the caller instead of being cleared.
//
// Adapted from pybind11 3.1.0, include/pybind11/cast.h (the type_caster of
// arithmetic types): load() differs only in how a Python error is cleared.
// pybind11 is Copyright (c) 2016 Wenzel Jakob <wenzel.jakob@epfl.ch>, All rights
// reserved, and distributed under a BSD-style licence (BSD 3-Clause): use in
// source and binary forms, with or without modification, is permitted provided
// that its copyright notice, conditions and disclaimer are retained.

#include "module/conversion_failure.hpp"

#include <pybind11/pybind11.h>

#include <cstdint>
#include <type_traits>

static_assert(PYBIND11_VERSION_MAJOR == 3 && PYBIND11_VERSION_MINOR == 1,
              "module/scalar_conversion.hpp was taken from pybind11 3.1");

namespace pybind11::detail {

template <typename T>
struct checked_arithmetic_caster {
    static_assert(std::is_same_v<T, double> || std::is_same_v<T, int> ||
                  std::is_same_v<T, unsigned long>);
    // double, long or unsigned long: the widest type the interpreter converts to directly.
    using py_type = std::conditional_t<std::is_floating_point_v<T>, double,
                                       std::conditional_t<std::is_signed_v<T>, long, T>>;

    bool load(handle src, bool convert) {
        if (!src) return false;
        py_type py_value;
        if constexpr (std::is_floating_point_v<T>) {
            if (!(convert || PyFloat_Check(src.ptr()) || PYBIND11_LONG_CHECK(src.ptr())))
                return false;
            py_value = PyFloat_AsDouble(src.ptr());
        } else {
            // A float is refused even when converting: it would be truncated.
            if (PyFloat_Check(src.ptr()) ||
                !(convert || PYBIND11_LONG_CHECK(src.ptr()) || PYBIND11_INDEX_CHECK(src.ptr())))
                return false;
            if constexpr (std::is_unsigned_v<T>)
                py_value = as_unsigned<py_type>(src.ptr());
            else
                py_value = PyLong_AsLong(src.ptr());
        }

        const bool py_err = PyErr_Occurred() != nullptr;
        if (py_err || (std::is_integral_v<T> && sizeof(py_type) != sizeof(T) &&
                       py_value != static_cast<py_type>(static_cast<T>(py_value)))) {
            if (py_err) vexa::module::clear_conversion_error();
            if (py_err && convert && PyNumber_Check(src.ptr()) != 0) {
                auto tmp = reinterpret_steal<object>(std::is_floating_point_v<T>
                                                         ? PyNumber_Float(src.ptr())
                                                         : PyNumber_Long(src.ptr()));
                if (!tmp) vexa::module::clear_conversion_error();
                return load(tmp, false);
            }
            return false;
        }
        value = static_cast<T>(py_value);
        return true;
    }

    static handle cast(T src, return_value_policy, handle) {
        if constexpr (std::is_floating_point_v<T>)
            return PyFloat_FromDouble(src);
        else if constexpr (std::is_signed_v<T>)
            return PyLong_FromLong(src);
        else
            return PyLong_FromUnsignedLong(src);
    }

    PYBIND11_TYPE_CASTER(
        T, io_name<std::is_integral_v<T>>("typing.SupportsInt | typing.SupportsIndex", "int",
                                          "typing.SupportsFloat | typing.SupportsIndex", "float"));
};

// The scalar types of the module's parameters and results (std::int32_t is int and
// std::uint64_t is unsigned long on the 64-bit Linux targets).
static_assert(std::is_same_v<std::int32_t, int> && std::is_same_v<std::uint64_t, unsigned long>);
template <>
struct type_caster<double> : checked_arithmetic_caster<double> {};
template <>
struct type_caster<int> : checked_arithmetic_caster<int> {};
template <>
struct type_caster<unsigned long> : checked_arithmetic_caster<unsigned long> {};

}  // namespace pybind11::detail
