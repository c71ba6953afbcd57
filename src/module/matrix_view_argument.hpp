#pragma once
// A matrix argument that a function only reads: a float64 array is viewed
// where it lies, in any layout with positive strides (column-major, row-major,
// a slice), so a large design is never copied. Anything else that the plain
// matrix conversion accepts (lists, other dtypes, negative or zero strides,
// unaligned or one-dimensional arrays) is converted by it into a column-major
// copy that the argument owns. Python sees the same signature as for a matrix.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <Eigen/Core>

#include <cstdint>
#include <optional>
#include <utility>

namespace vexa::module {

class MatrixViewArgument {
public:
    using View =
        Eigen::Map<const Eigen::MatrixXd, 0, Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>>;

    MatrixViewArgument() = default;
    // A copy's view would still point into the original's storage.
    MatrixViewArgument(const MatrixViewArgument&) = delete;
    MatrixViewArgument& operator=(const MatrixViewArgument&) = delete;

    const View& view() const { return *view_; }

    // Whether view() reads the caller's array rather than a copy of its own.
    bool views_caller_storage() const { return static_cast<bool>(array_); }

    // From now on view() reads a copy of the caller's array as it is now.
    void keep_copy() {
        if (!views_caller_storage()) return;
        own(Eigen::MatrixXd(*view_));
        array_ = pybind11::object();
    }

    // Views `array`, which it keeps alive; false when its strides or alignment do not allow it.
    // A step of 0 (np.broadcast_to) is refused on an axis with more than one entry: Eigen
    // takes a zero stride for "contiguous" and would read past the array's entries.
    bool view_in_place(const pybind11::array_t<double>& array) {
        if (array.ndim() != 2) return false;
        const auto item = static_cast<pybind11::ssize_t>(sizeof(double));
        const pybind11::ssize_t row_step = array.strides(0), col_step = array.strides(1);
        if (row_step < 0 || col_step < 0 || row_step % item != 0 || col_step % item != 0)
            return false;
        if ((row_step == 0 && array.shape(0) > 1) || (col_step == 0 && array.shape(1) > 1))
            return false;
        if (reinterpret_cast<std::uintptr_t>(array.data()) % alignof(double) != 0) return false;
        array_ = array;
        view_.emplace(
            array.data(), array.shape(0), array.shape(1),
            Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>(col_step / item, row_step / item));
        return true;
    }

    void own(Eigen::MatrixXd&& copy) {
        copy_ = std::move(copy);
        view_.emplace(copy_.data(), copy_.rows(), copy_.cols(),
                      Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>(copy_.rows(), 1));
    }

private:
    pybind11::object array_;
    Eigen::MatrixXd copy_;
    std::optional<View> view_;
};

}  // namespace vexa::module

namespace pybind11::detail {

template <>
struct type_caster<vexa::module::MatrixViewArgument> {
    PYBIND11_TYPE_CASTER(vexa::module::MatrixViewArgument, make_caster<Eigen::MatrixXd>::name);

    bool load(handle src, bool convert) {
        if (isinstance<array_t<double>>(src) &&
            value.view_in_place(reinterpret_borrow<array_t<double>>(src)))
            return true;
        make_caster<Eigen::MatrixXd> copy;
        if (!copy.load(src, convert)) return false;
        value.own(cast_op<Eigen::MatrixXd&&>(std::move(copy)));
        return true;
    }
};

}  // namespace pybind11::detail
