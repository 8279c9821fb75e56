#!/usr/bin/env python3
"""Writes a split model PMML for the benchmark data of split_bench_data:
one segment per (grp, sub) group, grp "g%04d" of k/10 and sub k%10, each a
linear model of y on x1..x5 with made-up coefficients. It has the shape
split-run build writes, without fitting, so that scoring can be timed against
any number of groups.

usage: make_split_model.py GROUPS OUT.pmml
"""
import random
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    groups, out = int(sys.argv[1]), sys.argv[2]
    rng = random.Random(20261206)
    inputs = ["x1", "x2", "x3", "x4", "x5"]
    with open(out, "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<PMML xmlns="http://www.dmg.org/PMML-4_4" version="4.4">\n')
        f.write('<Header description="benchmark split model"/>\n<DataDictionary numberOfFields="8">\n')
        f.write('<DataField name="grp" optype="categorical" dataType="string"/>\n')
        f.write('<DataField name="sub" optype="categorical" dataType="integer"/>\n')
        for name in inputs + ["y"]:
            f.write(f'<DataField name="{name}" optype="continuous" dataType="double"/>\n')
        f.write('</DataDictionary>\n<MiningModel functionName="regression"><MiningSchema>')
        for name in ["grp", "sub"] + inputs:
            f.write(f'<MiningField name="{name}" usageType="active"/>')
        f.write('<MiningField name="y" usageType="target"/></MiningSchema>\n')
        f.write('<Segmentation multipleModelMethod="selectFirst">\n')
        for k in range(groups):
            f.write(f'<Segment id="model-{k + 1:04d}"><CompoundPredicate booleanOperator="and">'
                    f'<SimplePredicate field="grp" operator="equal" value="g{k // 10:04d}"/>'
                    f'<SimplePredicate field="sub" operator="equal" value="{k % 10}"/></CompoundPredicate>'
                    '<RegressionModel functionName="regression"><MiningSchema>')
            for name in inputs:
                f.write(f'<MiningField name="{name}" usageType="active"/>')
            f.write(f'<MiningField name="y" usageType="target"/></MiningSchema>'
                    f'<RegressionTable intercept="{rng.uniform(-5, 5)!r}">')
            for name in inputs:
                f.write(f'<NumericPredictor name="{name}" coefficient="{rng.uniform(-2, 2)!r}"/>')
            f.write('</RegressionTable></RegressionModel></Segment>\n')
        f.write('</Segmentation></MiningModel></PMML>\n')


if __name__ == "__main__":
    main()
