#pragma once
// Which instruction sets the kernels are compiled for. A kernel file includes
// its body once per instruction set (through per_instruction_set.inc), each time
// inside a namespace of its own and under `#pragma GCC target`, so every
// function of that copy (helpers and templates included) is compiled for that
// set alone. Only our own plain loops
// are compiled this way: Eigen templates instantiated under another instruction
// set would break the one-definition rule, so no kernel body touches Eigen.

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define VEXA_X86_DISPATCH 1
#else
// Other architectures and compilers compile the plain loops once, for the
// compiler's own target.
#define VEXA_X86_DISPATCH 0
#endif

// The kernels pass 64-byte vectors only between inlined functions of one
// instruction set, so the by-value ABI that GCC warns about never applies.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
