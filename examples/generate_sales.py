#!/usr/bin/env python3
"""Generates examples/sales.csv: daily sales by region and sales channel.

Every (region, channel) group follows its own linear model

    revenue = intercept + b_price * price + b_promo * promo_spend
              + effect[segment] + noise

and its own logistic model for whether the order was returned,

    P(returned = yes) = 1 / (1 + exp(-(a0 + a_price * price + a_promo * promo_spend))).

The true coefficients are printed and written to examples/sales_truth.csv, so
the fitted split models can be checked against them. The data holds one
group whose region is missing (an empty, unquoted field) and one group with
fewer records than a linear model of revenue has parameters. Python 3 standard library only; the seed is fixed,
so the output is the same on every run.
"""

import csv
import datetime
import math
import os
import random

SEED = 20240611
SEGMENTS = ["Consumer", "Business", "Education"]
START = datetime.date(2023, 1, 1)

# region, channel, records, intercept, b_price, b_promo, segment effects
# (Consumer, Business, Education), a0, a_price, a_promo.
GROUPS = [
    ("North", "Online", 420, 120.0, -2.50, 0.80, (0.0, 35.0, -12.0), -1.0, 0.060, -0.030),
    ("North", "Store", 380, 200.0, -3.10, 1.20, (0.0, 42.0, -8.0), -1.6, 0.045, -0.012),
    ("South", "Online", 360, 90.0, -1.80, 0.55, (0.0, 20.0, -15.0), -0.6, 0.036, -0.036),
    ("South", "Store", 400, 150.0, -2.20, 0.95, (0.0, 30.0, -5.0), -1.2, 0.054, -0.018),
    ("East", "Online", 340, 110.0, -1.40, 1.50, (0.0, 25.0, -20.0), -0.9, 0.030, -0.024),
    ("East", "Store", 300, 175.0, -2.80, 0.70, (0.0, 38.0, -10.0), -1.4, 0.066, -0.027),
    ("West", "Online", 320, 135.0, -2.00, 1.10, (0.0, 28.0, -18.0), -0.8, 0.048, -0.033),
    # Orders whose region was not recorded: an empty region field.
    ("", "Online", 260, 100.0, -1.60, 0.90, (0.0, 22.0, -9.0), -1.1, 0.042, -0.021),
    # A new outlet with only a handful of orders: fewer than the parameters.
    ("Central", "Store", 4, 160.0, -2.40, 1.00, (0.0, 30.0, -10.0), -1.0, 0.045, -0.015),
]

NOISE_SD = 4.0


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    rng = random.Random(SEED)
    rows = []
    for (region, channel, count, intercept, b_price, b_promo, effects,
         a0, a_price, a_promo) in GROUPS:
        for i in range(count):
            day = START + datetime.timedelta(days=rng.randrange(365))
            price = round(rng.uniform(5.0, 60.0), 2)
            promo = round(rng.uniform(0.0, 80.0), 2)
            # The tiny group cycles through the segments so it has them all.
            segment = SEGMENTS[i % 3] if count < 10 else rng.choice(SEGMENTS)
            effect = effects[SEGMENTS.index(segment)]
            revenue = (intercept + b_price * price + b_promo * promo + effect
                       + rng.gauss(0.0, NOISE_SD))
            eta = a0 + a_price * price + a_promo * promo
            returned = "yes" if rng.random() < 1.0 / (1.0 + math.exp(-eta)) else "no"
            rows.append((day.isoformat(), region, channel, f"{price:.2f}",
                         f"{promo:.2f}", segment, f"{revenue:.2f}", returned))
    # Shuffle so that split-run has to bring the groups together.
    rng.shuffle(rows)

    with open(os.path.join(here, "sales.csv"), "w", newline="", encoding="utf-8") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(["date", "region", "channel", "price", "promo_spend",
                         "segment", "revenue", "returned"])
        writer.writerows(rows)

    with open(os.path.join(here, "sales_truth.csv"), "w", newline="", encoding="utf-8") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(["region", "channel", "records", "intercept", "price", "promo_spend",
                         "segment=Consumer", "segment=Business", "segment=Education",
                         "logit_intercept", "logit_price", "logit_promo_spend"])
        for (region, channel, count, intercept, b_price, b_promo, effects,
             a0, a_price, a_promo) in GROUPS:
            writer.writerow([region, channel, count, intercept, b_price, b_promo, *effects,
                             a0, a_price, a_promo])

    print(f"wrote {len(rows)} records to examples/sales.csv (seed {SEED})")
    print("true coefficients per group (revenue; segment effects relative to Consumer):")
    for (region, channel, count, intercept, b_price, b_promo, effects,
         a0, a_price, a_promo) in GROUPS:
        name = f"{region or '<missing>'}/{channel}"
        print(f"  {name:16} n={count:3}  revenue = {intercept:g} {b_price:+g}*price "
              f"{b_promo:+g}*promo_spend, Business {effects[1]:+g}, Education {effects[2]:+g};"
              f"  logit = {a0:g} {a_price:+g}*price {a_promo:+g}*promo_spend")


if __name__ == "__main__":
    main()
