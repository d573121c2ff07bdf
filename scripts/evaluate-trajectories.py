#!/usr/bin/env python3
"""Compares the trajectories solved from simulated network clips with the
network truth files of the simulation.

Reads every "N*_truth.json" of the truth directory and the lines of
"trajectories.csv"; a truth meteor is matched with the solved meteor whose
begin lies within 2 s of it. Prints per meteor the truth's convergence and
the errors: apparent radiant [deg], initial speed [km/s], begin and end
heights [km]; then the median and 90th percentile of each error binned by
the truth's largest convergence angle (<5, 5-10, 10-20, >20 deg), and the
truth meteors not found.

usage: evaluate-trajectories.py TRUTH_DIR TRAJECTORIES_CSV
"""
import csv
import datetime
import glob
import json
import math
import os
import sys


def utc(text):
    return datetime.datetime.strptime(text[:26], "%Y-%m-%d %H:%M:%S.%f")


def unit(ra, dec):
    r = math.radians
    return (math.cos(r(dec)) * math.cos(r(ra)), math.cos(r(dec)) * math.sin(r(ra)),
            math.sin(r(dec)))


def angle(ra1, dec1, ra2, dec2):
    a, b = unit(ra1, dec1), unit(ra2, dec2)
    d = max(-1.0, min(1.0, sum(x * y for x, y in zip(a, b))))
    return math.degrees(math.acos(d))


def quantile(values, q):
    v = sorted(values)
    if not v:
        return float("nan")
    k = (len(v) - 1) * q
    lo = math.floor(k)
    hi = min(lo + 1, len(v) - 1)
    return v[lo] + (v[hi] - v[lo]) * (k - lo)


def main():
    truth_dir, csv_path = sys.argv[1], sys.argv[2]
    truths = [json.load(open(p)) for p in sorted(glob.glob(os.path.join(truth_dir, "N*_truth.json")))]
    with open(csv_path, newline="") as f:
        solved = list(csv.DictReader(f))
    bins = [(0, 5), (5, 10), (10, 20), (20, 91)]
    errors = {b: [] for b in bins}
    missing = []
    print("meteor                conv  radiant  v_init  begin_h  end_h")
    for t in truths:
        begin = utc(t["begin"]["utc"])
        best = None
        for s in solved:
            dt = abs((utc(s["begin_utc"] + "000") - begin).total_seconds())
            if dt < 2.0 and (best is None or dt < best[0]):
                best = (dt, s)
        if best is None:
            missing.append(t["meteor"])
            continue
        s = best[1]
        e = (angle(float(s["ra_app"]), float(s["dec_app"]), t["radiant_ra"], t["radiant_dec"]),
             float(s["v_init"]) - t["speed"],
             float(s["begin_h"]) - t["begin"]["height"],
             float(s["end_h"]) - t["end"]["height"])
        conv = t["max_convergence"]
        print("%-20s %5.1f %8.3f %7.3f %8.3f %6.3f" % ((t["meteor"], conv) + e))
        for b in bins:
            if b[0] <= conv < b[1]:
                errors[b].append(e)
    print("\nconvergence   n   radiant med/p90 [deg]   v_init med/p90 [km/s]   "
          "begin_h med/p90 [km]   end_h med/p90 [km]")
    for b in bins:
        rows = errors[b]
        cols = []
        for k in range(4):
            v = [abs(r[k]) for r in rows]
            cols.append("%7.3f %7.3f" % (quantile(v, 0.5), quantile(v, 0.9)))
        print("%3d-%-3d deg %4d   %s" % (b[0], b[1], len(rows), "   ".join(cols)))
    print("\ntruth meteors: %d, solved lines: %d, not found: %d %s" %
          (len(truths), len(solved), len(missing), " ".join(missing)))


if __name__ == "__main__":
    main()
