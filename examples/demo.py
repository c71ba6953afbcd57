"""A prediction scored by the robust statistics of vexa_core."""

import numpy as np

import vexa_core as vc


def main() -> None:
    rng = np.random.default_rng(7)
    x = np.linspace(-1.0, 1.0, 200)
    y = np.sin(2.0 * x) + 0.05 * rng.normal(size=x.size)
    yp = 2.0 * x - (2.0 * x) ** 3 / 6.0  # a third-order Taylor prediction
    eps = 0.4 * vc.mad(y)
    print(f"mad(y)          = {vc.mad(y):.6f}")
    print(f"compute_sr      = {vc.compute_sr(yp, y, eps):.6f}")
    print(f"mdl_score(k=4)  = {vc.mdl_score(yp, y, 4):.6f}")


if __name__ == "__main__":
    main()
