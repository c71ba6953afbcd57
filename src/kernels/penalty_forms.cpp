#include "kernels/penalty_forms.hpp"

#include "kernels/success_count.hpp"

#define VEXA_KERNEL_BODY "kernels/penalty_forms_body.inc"
#include "kernels/per_instruction_set.inc"

namespace vexa {

void penalty_forms(const double* R, std::int64_t p, const double* lanes, int group, double* forms,
                   SimdPath path) {
    require_lockstep_group(group);
    const auto form =
        kernel_for(path, baseline::penalty_forms, avx2::penalty_forms, avx512::penalty_forms);
    form(R, p, lanes, group, forms);
}

}  // namespace vexa
