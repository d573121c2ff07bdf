#!/usr/bin/env python3
"""Compares the trajectories solved from simulated network clips with the
network truth files of the simulation.

Reads every "N*_truth.json" of the truth directory and the lines of
"trajectories.csv"; a truth meteor is matched with the solved meteor whose
begin lies within 2 s of it. Prints per meteor the truth's convergence and
the errors: apparent radiant [deg], initial speed [km/s], begin and end
heights [km] against the true path's height at the same place (the cameras
see only the part of the path bright enough to detect, so the solved begin
lies below the simulated luminous begin, printed last), and the largest
distance of the solved begin or end from the true path [km]; then the median and 90th percentile of each error binned by
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


# WGS84, km.
A_KM = 6378.137
F = 1 / 298.257223563
E2 = F * (2 - F)


def geodetic_to_ecef(lat, lng, h):
    la, lo = math.radians(lat), math.radians(lng)
    n = A_KM / math.sqrt(1 - E2 * math.sin(la) ** 2)
    return [(n + h) * math.cos(la) * math.cos(lo), (n + h) * math.cos(la) * math.sin(lo),
            (n * (1 - E2) + h) * math.sin(la)]


def ecef_height(p):
    x, y, z = p
    r = math.hypot(x, y)
    lat = math.atan2(z, r * (1 - E2))
    for _ in range(6):
        n = A_KM / math.sqrt(1 - E2 * math.sin(lat) ** 2)
        h = r / math.cos(lat) - n
        lat = math.atan2(z, r * (1 - E2 * n / (n + h)))
    return h


def along_true_path(t, lat, lng, h):
    """The height of the true path at the foot of the solved point, and the
    solved point's distance from the true path [km]. The cameras see only
    the part of the path that is bright enough, so a solved begin is
    compared with the true path at the same place, not with the simulated
    luminous begin."""
    b, e = t["begin_ecef"], t["end_ecef"]
    d = [e[i] - b[i] for i in range(3)]
    length = math.sqrt(sum(c * c for c in d))
    u = [c / length for c in d]
    p = geodetic_to_ecef(lat, lng, h)
    s = sum((p[i] - b[i]) * u[i] for i in range(3))
    foot = [b[i] + s * u[i] for i in range(3)]
    return ecef_height(foot), math.sqrt(sum((p[i] - foot[i]) ** 2 for i in range(3)))


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
    print("meteor                conv  radiant  v_init  begin_h  end_h  off_path  vs_luminous_begin")
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
        h_begin, off_begin = along_true_path(t, float(s["begin_lat"]), float(s["begin_lng"]),
                                             float(s["begin_h"]))
        h_end, off_end = along_true_path(t, float(s["end_lat"]), float(s["end_lng"]),
                                         float(s["end_h"]))
        e = (angle(float(s["ra_app"]), float(s["dec_app"]), t["radiant_ra"], t["radiant_dec"]),
             float(s["v_init"]) - t["speed"],
             float(s["begin_h"]) - h_begin,
             float(s["end_h"]) - h_end,
             max(off_begin, off_end),
             float(s["begin_h"]) - t["begin"]["height"])
        conv = t["max_convergence"]
        print("%-20s %5.1f %8.3f %7.3f %8.3f %6.3f %9.3f %9.3f" % ((t["meteor"], conv) + e))
        for b in bins:
            if b[0] <= conv < b[1]:
                errors[b].append(e)
    print("\nconvergence   n   radiant med/p90 [deg]   v_init med/p90 [km/s]   "
          "begin_h med/p90 [km]   end_h med/p90 [km]   off_path med/p90 [km]")
    for b in bins:
        rows = errors[b]
        cols = []
        for k in range(5):
            v = [abs(r[k]) for r in rows]
            cols.append("%7.3f %7.3f" % (quantile(v, 0.5), quantile(v, 0.9)))
        print("%3d-%-3d deg %4d   %s" % (b[0], b[1], len(rows), "   ".join(cols)))
    print("\ntruth meteors: %d, solved lines: %d, not found: %d %s" %
          (len(truths), len(solved), len(missing), " ".join(missing)))


if __name__ == "__main__":
    main()
