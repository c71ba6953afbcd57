#pragma once
// Conversion of Vector and Matrix arguments and results: pybind11's own Eigen
// conversion (the same accepted inputs, one copy in, results moved out without a
// copy), except that a large argument copy is advised onto huge pages before it
// is written. Every binding file includes this header instead of
// <pybind11/eigen.h>, so that one conversion serves the whole module.

#include "common/huge_pages.hpp"

#include <pybind11/eigen.h>
#include <pybind11/numpy.h>

#include <utility>

namespace pybind11::detail {

template <typename Type>
struct advised_dense_caster {
    using Scalar = typename Type::Scalar;
    using props = EigenProps<Type>;

    bool load(handle src, bool convert) {
        if (!convert && !isinstance<array_t<Scalar>>(src)) return false;
        auto buf = array::ensure(src);
        if (!buf) return false;
        const auto dims = buf.ndim();
        if (dims < 1 || dims > 2) return false;
        const auto fits = props::conformable(buf);
        if (!fits) return false;
        value = vexa::uninitialised<Type>(fits.rows, fits.cols);
        auto ref = reinterpret_steal<array>(eigen_ref_array<props>(value));
        if (dims == 1) {
            ref = ref.squeeze();
        } else if (ref.ndim() == 1) {
            buf = buf.squeeze();
        }
        if (npy_api::get().PyArray_CopyInto_(ref.ptr(), buf.ptr()) < 0) {
            PyErr_Clear();
            return false;
        }
        return true;
    }

    static handle cast(Type&& src, return_value_policy, handle) {
        return eigen_encapsulate<props>(new Type(std::move(src)));
    }
    static handle cast(const Type& src, return_value_policy policy, handle parent) {
        switch (policy) {
            case return_value_policy::reference_internal:
                return eigen_ref_array<props>(src, parent);  // read-only view
            case return_value_policy::reference:
                return eigen_ref_array<props>(src);
            default:
                return eigen_array_cast<props>(src);  // a copy
        }
    }
    static handle cast(const Type* src, return_value_policy policy, handle parent) {
        return cast(*src, policy, parent);
    }

    static constexpr auto name = props::descriptor;

    // NOLINTNEXTLINE(google-explicit-constructor)
    operator Type*() { return &value; }
    // NOLINTNEXTLINE(google-explicit-constructor)
    operator Type&() { return value; }
    // NOLINTNEXTLINE(google-explicit-constructor)
    operator Type&&() && { return std::move(value); }
    template <typename T>
    using cast_op_type = movable_cast_op_type<T>;

private:
    Type value;
};

template <>
struct type_caster<Eigen::VectorXd> : advised_dense_caster<Eigen::VectorXd> {};
template <>
struct type_caster<Eigen::MatrixXd> : advised_dense_caster<Eigen::MatrixXd> {};

}  // namespace pybind11::detail
