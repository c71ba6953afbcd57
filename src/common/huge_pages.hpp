#pragma once
// Large buffers ask the kernel for transparent huge pages before they are first
// written. A fresh multi-megabyte allocation is otherwise faulted in 4 KiB at a
// time, which on large arrays costs more than the arithmetic done on them.

#include <Eigen/Core>

#include <cstddef>

namespace vexa {

// Advises the 2 MiB-aligned interior of [data, data + bytes) when it spans at
// least 4 MiB; smaller buffers are left alone. Only advice: never fails.
void advise_huge_pages(void* data, std::size_t bytes);

// An uninitialised rows x cols matrix (or vector) advised as above.
template <typename Dense>
Dense uninitialised(Eigen::Index rows, Eigen::Index cols) {
    Dense m(rows, cols);
    advise_huge_pages(m.data(),
                      sizeof(typename Dense::Scalar) * static_cast<std::size_t>(m.size()));
    return m;
}

// A copy of `source` in freshly advised storage.
template <typename Dense>
Dense advised_copy(const Dense& source) {
    Dense copy = uninitialised<Dense>(source.rows(), source.cols());
    copy = source;
    return copy;
}

}  // namespace vexa
