#!/usr/bin/env python3
"""Compares the analysis of simulated clips with what was simulated.

Reads, for every "<clip>_truth.json" in the clip directory, the clip's
result file "<clip>A.XML" and matches each simulated object with the
object of the result whose start lies nearest to it. Prints per clip the
expected and found class, and at the end the rate of correct classes and
shower codes and the median errors of start and end direction [deg] and of
the speed [%] of shower members.

usage: evaluate-night.py CLIP_DIR
"""
import glob
import json
import math
import os
import re
import statistics
import sys

ATTRIBUTE = re.compile(r'\s([A-Za-z_0-9%]+)="([^"]*)"')


def read_objects(path):
    """The mr2_object elements of a result file, as dicts of strings."""
    with open(path, encoding="latin-1") as f:
        text = f.read()
    objects = []
    for match in re.finditer(r"<mr2_object\b(.*?)>", text, re.S):
        objects.append(dict(ATTRIBUTE.findall(match.group(1))))
    return objects


def distance(ra1, dec1, ra2, dec2):
    r = math.radians
    c = (math.sin(r(dec1)) * math.sin(r(dec2)) +
         math.cos(r(dec1)) * math.cos(r(dec2)) * math.cos(r(ra1 - ra2)))
    return math.degrees(math.acos(max(-1.0, min(1.0, c))))


def expected_class(truth):
    kind = truth["kind"]
    if kind == "meteor":
        return truth.get("class") or truth.get("shower") or "spo"
    return {"flash": "__flash", "slow": "__slow", "curve": "__curve"}.get(kind, "_")


def class_matches(expected, found):
    if expected == "_":
        return found.startswith("_")
    return expected == found


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1])
        return 1
    directory = sys.argv[1]
    total = correct = 0
    meteors = shower_total = shower_correct = 0
    start_errors, end_errors, speed_errors = [], [], []
    for truth_path in sorted(glob.glob(os.path.join(directory, "*_truth.json"))):
        with open(truth_path) as f:
            truth = json.load(f)
        clip = truth["clip"]
        result = os.path.join(directory, clip + "A.XML")
        found = read_objects(result) if os.path.exists(result) else []
        for sim in truth["objects"] or [{"kind": "none"}]:
            total += 1
            want = expected_class(sim)
            best = None
            if "start" in sim and found:
                best = min(found, key=lambda o: distance(
                    float(o.get("ra1", 0)), float(o.get("dc1", 0)),
                    sim["start"]["ra"], sim["start"]["dec"]))
            elif found:
                best = found[0]
            got = best.get("class", "") if best else "(none)"
            ok = class_matches(want, got)
            correct += ok
            line = f"{clip} {want:>8} {got:>8} {'ok' if ok else 'WRONG'}"
            if sim["kind"] == "meteor" and best:
                meteors += 1
                s = distance(float(best["ra1"]), float(best["dc1"]),
                             sim["start"]["ra"], sim["start"]["dec"])
                e = distance(float(best["ra2"]), float(best["dc2"]),
                             sim["end"]["ra"], sim["end"]["dec"])
                start_errors.append(s)
                end_errors.append(e)
                line += f"  start {s:.3f} end {e:.3f}"
                if want != "spo":
                    shower_total += 1
                    shower_correct += got == want
                    vo = float(best.get("Vo", -1))
                    if vo > 0 and sim.get("speed"):
                        err = (vo - sim["speed"]) / sim["speed"] * 100
                        speed_errors.append(abs(err))
                        line += f"  Vo {vo:.1f} ({err:+.1f} %)"
            print(line)
    print(f"objects {total}, correct classes {correct} ({100.0 * correct / max(total, 1):.1f} %)")
    print(f"shower members {shower_total}, correct codes {shower_correct} "
          f"({100.0 * shower_correct / max(shower_total, 1):.1f} %)")
    if start_errors:
        print(f"meteors {meteors}: median start error {statistics.median(start_errors):.3f} deg, "
              f"median end error {statistics.median(end_errors):.3f} deg")
    if speed_errors:
        print(f"median speed error of shower members {statistics.median(speed_errors):.1f} %")
    return 0


if __name__ == "__main__":
    sys.exit(main())
