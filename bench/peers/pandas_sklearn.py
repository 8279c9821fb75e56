#!/usr/bin/python3
"""Peer of `split-run build`: one least-squares fit of y on x1..x5 per
(grp, sub) group, with pandas groupby-apply and scikit-learn, reading the
same CSV. Writes one line of coefficients per group.

usage: pandas_sklearn.py DATA.csv OUT.csv
"""
import sys

import pandas as pd
from sklearn.linear_model import LinearRegression

INPUTS = ["x1", "x2", "x3", "x4", "x5"]


def fit(group):
    model = LinearRegression().fit(group[INPUTS].to_numpy(), group["y"].to_numpy())
    return pd.Series([model.intercept_, *model.coef_, len(group)],
                     index=["intercept", *INPUTS, "records"])


def main(data, out):
    frame = pd.read_csv(data)
    models = frame.groupby(["grp", "sub"], sort=False).apply(fit)
    models.to_csv(out)
    print(f"{len(models)} groups", file=sys.stderr)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
