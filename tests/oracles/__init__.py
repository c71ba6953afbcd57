"""Independent NumPy oracles of what vexa_core computes, shared by the tests and the benchmarks.

peers                 the NumPy/SciPy way of computing each quantity, one function per quantity
reference_tournament  the tournament sampler in NumPy, bit for bit in its exact mode
problems              small fitting problems that several test modules share
"""
