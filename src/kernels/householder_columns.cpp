#include "kernels/householder_columns.hpp"

#define VEXA_KERNEL_BODY "kernels/householder_columns_body.inc"
#include "kernels/per_instruction_set.inc"

namespace vexa {

const HouseholderColumns& householder_columns(SimdPath path) {
    static const HouseholderColumns baseline_passes{
        baseline::products, baseline::reflect_and_products, baseline::copy_column};
    static const HouseholderColumns avx2_passes{avx2::products, avx2::reflect_and_products,
                                                avx2::copy_column};
    static const HouseholderColumns avx512_passes{avx512::products, avx512::reflect_and_products,
                                                  avx512::copy_column};
    return *kernel_for(path, &baseline_passes, &avx2_passes, &avx512_passes);
}

}  // namespace vexa
