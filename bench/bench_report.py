#!/usr/bin/python3
"""Prints the benchmark table of scripts/bench.sh: min, median and max of
every figure over the runs made, and the ratios against their targets.

Ratios use medians; each is formed from figures measured in the same
invocation of scripts/bench.sh, on one machine.
"""
import argparse
import json
import os
import statistics
import sys
from collections import defaultdict


def stats(values):
    return min(values), statistics.median(values), max(values)


def read_end_to_end(path):
    wall, rss, cpu = defaultdict(list), defaultdict(list), defaultdict(list)
    if not path or not os.path.exists(path):
        return wall, rss, cpu
    with open(path) as f:
        for line in f:
            name, _run, seconds, kib, user, system = line.split("\t")
            wall[name].append(float(seconds))
            rss[name].append(int(kib) * 1024)
            cpu[name].append(float(user) + float(system))
    return wall, rss, cpu


def read_micro(paths):
    """Per benchmark name: its per-repetition figures."""
    runs = defaultdict(list)
    benchmarks = []
    for path in paths:
        if os.path.exists(path):
            with open(path) as f:
                benchmarks += json.load(f).get("benchmarks", [])
    for b in benchmarks:
        if b.get("run_type") != "iteration" or b.get("error_occurred"):
            continue
        # "BM_CollectGroups/1000/iterations:1/manual_time" -> "BM_CollectGroups/1000"
        name = "/".join(p for p in b["run_name"].split("/")
                        if not p.startswith(("iterations:", "manual_time", "real_time")))
        runs[name].append(b)
    return runs


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--end-to-end")
    p.add_argument("--micro", nargs="*", default=[])
    p.add_argument("--data", required=True)
    p.add_argument("--threads", type=int, required=True)
    p.add_argument("--groups", type=int, required=True)
    p.add_argument("--load", nargs=2, help="load averages (1, 5, 15 min) before and after")
    p.add_argument("--dt-records", type=int, default=0,
                   help="records of the data.table comparison's files")
    args = p.parse_args()

    csv_bytes = os.path.getsize(args.data)
    wall, rss, cpu = read_end_to_end(args.end_to_end)
    micro = read_micro(args.micro)

    rows = []  # (figure, unit, values)
    dt_names = [f"{who}-{order}" for order in ("grouped", "shuffled")
                for who in ("split-run", "datatable")]
    for name in ["split-run", "pandas-sklearn", "R-lm"] + dt_names + ["datatable-startup"]:
        if wall[name]:
            rows.append((f"end to end: {name}, wall", "s", wall[name]))
            rows.append((f"end to end: {name}, CPU (user + sys)", "s", cpu[name]))
            rows.append((f"end to end: {name}, max RSS", "MiB", [v / 2**20 for v in rss[name]]))
    ms = lambda runs: [r["real_time"] for r in runs]  # noqa: E731 (unit: ms)
    cpu_ms = lambda runs: [r["cpu_ms"] for r in runs]  # noqa: E731
    dist_module = micro.get("BM_DistributeModule", [])
    dist_floor = micro.get("BM_DistributeFloor", [])
    dist_calls = micro.get("BM_DistributeCalls", [])
    for label, runs in (("module (plan + hand-out)", dist_module),
                        ("floor (copy into record sets)", dist_floor),
                        ("the module's 7 host calls alone", dist_calls)):
        if runs:
            rows.append((f"distribution: {label}, wall", "ms", ms(runs)))
            rows.append((f"distribution: {label}, CPU", "ms", cpu_ms(runs)))
    csv_load = {threads: micro.get(f"BM_LoadCsv/{threads}", []) for threads in (1, 2)}
    read_floor = micro.get("BM_ReadFloor", [])
    for threads, runs in csv_load.items():
        if runs:
            rows.append((f"CSV load on {threads} thread(s), CPU", "ms", cpu_ms(runs)))
            rows.append((f"CSV load on {threads} thread(s), wall", "ms", ms(runs)))
            rows.append((f"CSV load on {threads} thread(s), per CPU second", "MB",
                         [r["mb_per_cpu_second"] for r in runs]))
    if read_floor:
        rows.append(("read floor (pread + memchr), per CPU second", "MB",
                     [r["mb_per_cpu_second"] for r in read_floor]))
    for arg, label in ((0, "4 KiB pages"), (1, "huge pages")):
        runs = micro.get(f"BM_FreshPages/{arg}", [])
        if runs:
            rows.append((f"fresh memory, {label}: first write per 4 KiB", "us",
                         [r["us_per_page_first"] for r in runs]))
            rows.append((f"fresh memory, {label}: second write per 4 KiB", "us",
                         [r["us_per_page_again"] for r in runs]))
    collect, collect_cpu = {}, {}
    for run_name, runs in micro.items():
        if run_name.startswith("BM_CollectGroups/"):
            groups = int(run_name.split("/")[1])
            collect[groups] = [r["us_per_group"] for r in runs]
            collect_cpu[groups] = [r["cpu_us_per_group"] for r in runs]
    for groups in sorted(collect):
        rows.append((f"collection: {groups} groups, per group, wall", "us", collect[groups]))
        rows.append((f"collection: {groups} groups, per group, CPU", "us", collect_cpu[groups]))

    print(f"CSV: {args.data}, {csv_bytes / 2**20:.1f} MiB ({csv_bytes} bytes); "
          f"{args.groups} groups; split-run --threads {args.threads}; cores {os.cpu_count()}")
    if args.load:
        print(f"load average before: {args.load[0]}; after: {args.load[1]}")
    width = max([len(r[0]) for r in rows] + [6])
    print(f"{'figure':<{width}}  {'unit':>4}  {'runs':>4}  {'min':>10}  {'median':>10}  {'max':>10}")
    for figure, unit, values in rows:
        lo, mid, hi = stats(values)
        print(f"{figure:<{width}}  {unit:>4}  {len(values):>4}  {lo:>10.3f}  {mid:>10.3f}  {hi:>10.3f}")

    def median(values):
        return statistics.median(values) if values else None

    checks = []  # (ratio, value, target text, met)
    if dist_module and dist_floor:
        for kind, pick in (("wall", ms), ("CPU", cpu_ms)):
            r = median(pick(dist_module)) / median(pick(dist_floor))
            checks.append((f"distribution / floor, {kind}", r, "", None))
    if dist_module and dist_calls:
        for kind, pick in (("wall", ms), ("CPU", cpu_ms)):
            calls_time = median(pick(dist_calls))
            r = (median(pick(dist_module)) - calls_time) / calls_time
            checks.append((f"module's own work / its host calls, {kind}", r, "<= 0.1", r <= 0.1))
    if csv_load[2] and read_floor:
        r = median([x["mb_per_cpu_second"] for x in csv_load[2]]) / median(
            [x["mb_per_cpu_second"] for x in read_floor])
        checks.append(("CSV parse per core / read floor", r, ">= 0.5", r >= 0.5))
    if 1000 in collect and 100000 in collect:
        for kind, figures in (("wall", collect), ("CPU", collect_cpu)):
            r = median(figures[100000]) / median(figures[1000])
            checks.append((f"collection per group, 100,000 / 1,000 groups, {kind}", r, "<= 1.2",
                           r <= 1.2))
    split_wall = median(wall["split-run"])
    if split_wall:
        for peer, target in (("pandas-sklearn", 10), ("R-lm", 5)):
            if wall[peer]:
                r = median(wall[peer]) / split_wall
                checks.append((f"{peer} wall / split-run wall", r, f">= {target}", r >= target))
                # On a loaded machine wall times measure the load as much as
                # the programs; CPU time does not, but it adds up the threads.
                r = median(cpu[peer]) / median(cpu["split-run"])
                checks.append((f"{peer} CPU / split-run CPU", r, "", None))
        for name in ("split-run", "pandas-sklearn", "R-lm"):
            if rss[name]:
                r = median(rss[name]) / csv_bytes
                target = name == "split-run"
                checks.append((f"{name} max RSS / CSV size", r, "<= 2" if target else "",
                               r <= 2 if target else None))
    for order in ("grouped", "shuffled"):
        ours, theirs = wall[f"split-run-{order}"], wall[f"datatable-{order}"]
        if ours and theirs:
            r = median(theirs) / median(ours)
            checks.append((f"data.table wall / split-run wall, {order}, {args.dt_records:,} records",
                           r, ">= 5", r >= 5))
            r = median(cpu[f"datatable-{order}"]) / median(cpu[f"split-run-{order}"])
            checks.append((f"data.table CPU / split-run CPU, {order}", r, "", None))
            if cpu["datatable-startup"]:
                r = median(cpu["datatable-startup"]) / median(cpu[f"datatable-{order}"])
                checks.append((f"data.table startup CPU / its whole run, {order}", r, "", None))
    if checks:
        print()
        width = max(len(c[0]) for c in checks)
        print(f"{'ratio (of medians)':<{width}}  {'value':>8}  {'target':>6}  met")
        for name, value, target, met in checks:
            verdict = "" if met is None else ("yes" if met else "NO")
            print(f"{name:<{width}}  {value:>8.3f}  {target:>6}  {verdict}")


if __name__ == "__main__":
    sys.exit(main())
