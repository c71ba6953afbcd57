"""Small fitting problems that several test modules share."""

from __future__ import annotations

import numpy as np


def line_data(p: int, seed: int = 5, n: int = 40):
    """y close to 0.8 x on [-1, 1], x in the first of p columns; R1 random, R2 the identity."""
    rng = np.random.default_rng(seed)
    x = np.linspace(-1.0, 1.0, n)
    X = np.zeros((n, p))
    if p:
        X[:, 0] = x
    y = 0.8 * x + 0.1 * rng.normal(size=n)
    A = rng.normal(size=(p, p))
    return X, y, A @ A.T / max(p, 1), np.eye(p)
