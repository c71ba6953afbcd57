#pragma once
// Conversion of Vector and Matrix arguments and results: pybind11's own Eigen
// conversion (the same accepted inputs, one copy in, results moved out without a
// copy), except that a large argument copy is advised onto huge pages before it
// is written, and a C-ordered matrix of doubles is copied by blocks of rows. On
// a 10^7-entry argument the advice makes the copy-in several times faster
// (compute_sr) or about a tenth faster (mad).
//
// The one include point: CMake force-includes this header first into every
// source file of the extension, so that no file can see pybind11's own caster for
// these two types; a file that pulls in <pybind11/eigen.h> earlier fails to build.
// The scalar conversions come with it, and so does the choice of pybind11's
// detailed error messages (which name the C++ type of a failed cast).
//
// Adapted from pybind11 3.1.0, include/pybind11/eigen/matrix.h (the type_caster
// of plain dense Eigen types): load() differs in how `value` is allocated and in
// letting an urgent error (module/conversion_failure.hpp) through.
// pybind11 is Copyright (c) 2016 Wenzel Jakob <wenzel.jakob@epfl.ch>, All rights
// reserved, and distributed under a BSD-style licence (BSD 3-Clause): use in
// source and binary forms, with or without modification, is permitted provided
// that its copyright notice, conditions and disclaimer are retained.

#ifdef PYBIND11_EIGEN_MESSAGE_POINTER_TYPES_ARE_NOT_SUPPORTED
#error "<pybind11/eigen.h> is included before module/eigen_conversion.hpp"
#endif

#define PYBIND11_DETAILED_ERROR_MESSAGES

#include "common/huge_pages.hpp"
#include "common/row_major_copy.hpp"
#include "module/conversion_failure.hpp"
#include "module/scalar_conversion.hpp"

#include <pybind11/eigen.h>
#include <pybind11/numpy.h>

#include <type_traits>
#include <utility>

// It relies on pybind11's detail namespace as of 3.1; a new version needs a new
// comparison with pybind11/eigen/matrix.h.
static_assert(PYBIND11_VERSION_MAJOR == 3 && PYBIND11_VERSION_MINOR == 1,
              "module/eigen_conversion.hpp was taken from pybind11 3.1");

namespace pybind11::detail {

template <typename Type>
struct advised_dense_caster {
    using Scalar = typename Type::Scalar;
    using props = EigenProps<Type>;

    bool load(handle src, bool convert) {
        if (!convert && !isinstance<array_t<Scalar>>(src)) return false;
        // As array::ensure, but an urgent error from __array__ or an item goes on.
        auto buf = reinterpret_steal<array>(npy_api::get().PyArray_FromAny_(
            src.ptr(), nullptr, 0, 0, npy_api::NPY_ARRAY_ENSUREARRAY_, nullptr));
        if (!buf) {
            vexa::module::clear_conversion_error();
            return false;
        }
        const auto dims = buf.ndim();
        if (dims < 1 || dims > 2) return false;
        const auto fits = props::conformable(buf);
        if (!fits) return false;
        value = vexa::uninitialised<Type>(fits.rows, fits.cols);
        if (copy_row_major(buf, dims)) return true;
        auto ref = reinterpret_steal<array>(eigen_ref_array<props>(value));
        if (dims == 1) {
            ref = ref.squeeze();
        } else if (ref.ndim() == 1) {
            buf = buf.squeeze();
        }
        if (npy_api::get().PyArray_CopyInto_(ref.ptr(), buf.ptr()) < 0) {
            vexa::module::clear_conversion_error();
            return false;
        }
        return true;
    }

private:
    // A C-ordered, aligned array of doubles into a column-major matrix: copied by
    // blocks of rows (common/row_major_copy.hpp), several times faster than
    // NumPy's element-wise copy between the two layouts. False for any other input.
    bool copy_row_major(const array& buf, ssize_t dims) {
        if constexpr (std::is_same_v<Scalar, double> && !Type::IsRowMajor &&
                      Type::RowsAtCompileTime == Eigen::Dynamic &&
                      Type::ColsAtCompileTime == Eigen::Dynamic) {
            constexpr int kFlags = npy_api::NPY_ARRAY_C_CONTIGUOUS_ | npy_api::NPY_ARRAY_ALIGNED_;
            if (dims != 2 || (buf.flags() & kFlags) != kFlags || !isinstance<array_t<double>>(buf))
                return false;
            vexa::copy_row_major_to_columns(static_cast<const double*>(buf.data()), value.rows(),
                                            value.cols(), value.data());
            return true;
        } else {
            (void)buf;
            (void)dims;
            return false;
        }
    }

    template <typename CType>
    static handle cast_impl(CType* src, return_value_policy policy, handle parent) {
        switch (policy) {
            case return_value_policy::take_ownership:
            case return_value_policy::automatic:
                return eigen_encapsulate<props>(src);
            case return_value_policy::move:
                return eigen_encapsulate<props>(new CType(std::move(*src)));
            case return_value_policy::copy:
                return eigen_array_cast<props>(*src);
            case return_value_policy::reference:
            case return_value_policy::automatic_reference:
                return eigen_ref_array<props>(*src);
            case return_value_policy::reference_internal:
                return eigen_ref_array<props>(*src, parent);  // read-only for a const src
            default:
                throw cast_error("unhandled return_value_policy: should not happen!");
        }
    }

public:
    // A returned value is moved into a capsule that the array owns.
    static handle cast(Type&& src, return_value_policy, handle parent) {
        return cast_impl(&src, return_value_policy::move, parent);
    }
    static handle cast(const Type&& src, return_value_policy, handle parent) {
        return cast_impl(&src, return_value_policy::move, parent);
    }
    // A returned reference is copied unless the policy says otherwise.
    static handle cast(Type& src, return_value_policy policy, handle parent) {
        if (policy == return_value_policy::automatic ||
            policy == return_value_policy::automatic_reference)
            policy = return_value_policy::copy;
        return cast_impl(&src, policy, parent);
    }
    static handle cast(const Type& src, return_value_policy policy, handle parent) {
        if (policy == return_value_policy::automatic ||
            policy == return_value_policy::automatic_reference)
            policy = return_value_policy::copy;
        return cast(&src, policy, parent);
    }
    // A returned pointer is taken over by default.
    static handle cast(Type* src, return_value_policy policy, handle parent) {
        return cast_impl(src, policy, parent);
    }
    static handle cast(const Type* src, return_value_policy policy, handle parent) {
        return cast_impl(src, policy, parent);
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
