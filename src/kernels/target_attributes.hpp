#pragma once
// Which instruction sets the kernels are compiled for. A kernel file compiles its
// body once per instruction set (through per_instruction_set.inc), each time in a
// namespace of its own and with every function of that copy (helpers and
// templates included) marked with VEXA_TARGET, the `target` attribute of that
// set, so that the copy is compiled for that set alone. GCC and Clang both honour
// the attribute, and both pick the copy at run time with __builtin_cpu_supports.
// Only our own plain loops are compiled this way: Eigen templates instantiated
// under another instruction set would break the one-definition rule, so no kernel
// body touches Eigen.

// GCC and Clang (which also defines __GNUC__) have the attribute on x86-64; the
// run-time check is asked for where the compiler can say (GCC before 10 cannot,
// but has it). Nested, so that no compiler has to parse what it lacks.
#if defined(__x86_64__) && defined(__GNUC__)
#if defined(__has_builtin)
#if __has_builtin(__builtin_cpu_supports)
#define VEXA_X86_DISPATCH 1
#endif
#else
#define VEXA_X86_DISPATCH 1
#endif
#endif
#ifndef VEXA_X86_DISPATCH
// Other architectures and compilers compile the plain loops once, for the
// compiler's own target.
#define VEXA_X86_DISPATCH 0
#endif

// The kernels pass 64-byte vectors only between inlined functions of one
// instruction set, so the by-value ABI that the compiler warns about never applies.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
