#!/usr/bin/env python3
"""Compares the analysis of simulated clips with what was simulated.

Reads, for every "<clip>_truth.json" in the clip directory, the clip's
result file "<clip>A.XML" and matches each simulated object with the
object of the result whose start lies nearest to it. Prints per clip the
expected and found class, and at the end the rate of correct classes and
shower codes, the median errors of the start and end directions [deg] and
the median and signed median error of the speed `Vo` [%] of shower members.

A direction error is split into "across" (distance from the true great
circle of the trail) and "along" (along that circle). Along is given two
ways: "lag", from the truth's end point (its first or last light at
magnitude `mag_ends`, usually fainter than what the detection sees;
positive = inside the true trail), and "at t", from where the meteor truly
was at the found end's time (the field's time plus half a frame, the
middle of its exposure; the truth between its ends is taken uniform in
angle). A wrong class shows the object's simulated peak level (its
brightest noise-free level in one field) to hold against the clip's noise
level `dl`. A meteor with no object of light (class "__none" or no result) is
counted as not found and left out of the direction errors.

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


def unit(ra, dec):
    r = math.radians
    return (math.cos(r(dec)) * math.cos(r(ra)), math.cos(r(dec)) * math.sin(r(ra)),
            math.sin(r(dec)))


def dot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def angle(a, b):
    return math.degrees(math.acos(max(-1.0, min(1.0, dot(a, b)))))


def distance(ra1, dec1, ra2, dec2):
    return angle(unit(ra1, dec1), unit(ra2, dec2))


class TrueTrail:
    """The simulated meteor's great circle from its start to its end."""

    def __init__(self, sim):
        self.a = unit(sim["start"]["ra"], sim["start"]["dec"])
        self.b = unit(sim["end"]["ra"], sim["end"]["dec"])
        self.t0, self.t1 = sim["start"]["t"], sim["end"]["t"]
        n = cross(self.a, self.b)
        norm = math.sqrt(dot(n, n)) or 1.0
        self.pole = tuple(c / norm for c in n)
        self.arc = angle(self.a, self.b)

    def across(self, p):
        return abs(math.degrees(math.asin(max(-1.0, min(1.0, dot(p, self.pole))))))

    def along(self, p):
        """Signed angle along the circle from the true start [deg]."""
        side = cross(self.pole, self.a)  # the circle's direction at the start
        return math.degrees(math.atan2(dot(p, side), dot(p, self.a)))

    def along_at(self, t):
        if self.t1 <= self.t0:
            return 0.0
        return self.arc * (t - self.t0) / (self.t1 - self.t0)


def expected_class(truth):
    kind = truth["kind"]
    if kind == "meteor":
        return truth.get("class") or truth.get("shower") or "spo"
    return {"flash": "__flash", "slow": "__slow", "curve": "__curve"}.get(kind, "_")


def class_matches(expected, found):
    if expected == "_":
        return found.startswith("_")
    return expected == found


def median(values):
    return statistics.median(values) if values else float("nan")


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1])
        return 1
    directory = sys.argv[1]
    total = correct = 0
    meteors = not_found = shower_total = shower_correct = 0
    errors = {k: [] for k in ("start_across", "start_lag", "start_at", "end_across",
                              "end_lag", "end_at")}
    speed_errors = []
    for truth_path in sorted(glob.glob(os.path.join(directory, "*_truth.json"))):
        with open(truth_path) as f:
            truth = json.load(f)
        clip = truth["clip"]
        # Half a sample's exposure: a field of an interlaced frame is half a frame.
        half = 0.5 / truth["fps"] / (2 if truth.get("interlaced") else 1)
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
            if not ok and "peak_level" in sim:
                # The simulated signal against the clip's noise level `dl`.
                line += f"  (peak level {sim['peak_level']:.1f})"
            if sim["kind"] == "meteor":
                meteors += 1
                if want != "spo":
                    shower_total += 1
                    shower_correct += got == want
                if not best or got in ("(none)", "__none"):
                    not_found += 1
                    print(line + "  not found")
                    continue
                trail = TrueTrail(sim)
                t_start = float(best.get("delay", 0))
                t_end = t_start + float(best.get("sec", 0))
                for name, ra, dc, t, reference in (
                        ("start", "ra1", "dc1", t_start, 0.0),
                        ("end", "ra2", "dc2", t_end, trail.arc)):
                    p = unit(float(best[ra]), float(best[dc]))
                    along = trail.along(p)
                    across = trail.across(p)
                    # Inside the true trail counts positive at either end.
                    lag = along - reference if name == "start" else reference - along
                    at = along - trail.along_at(t + half)
                    errors[name + "_across"].append(across)
                    errors[name + "_lag"].append(lag)
                    errors[name + "_at"].append(abs(at))
                    line += f"  {name} x {across:.3f} lag {lag:+.2f} at {at:+.3f}"
                vo = float(best.get("Vo", -1))
                if want != "spo" and vo > 0 and sim.get("speed"):
                    err = (vo - sim["speed"]) / sim["speed"] * 100
                    speed_errors.append(err)
                    line += f"  Vo {vo:.1f} ({err:+.1f} %)"
            print(line)
    print(f"objects {total}, correct classes {correct} ({100.0 * correct / max(total, 1):.1f} %)")
    print(f"shower members {shower_total}, correct codes {shower_correct} "
          f"({100.0 * shower_correct / max(shower_total, 1):.1f} %)")
    if meteors:
        print(f"meteors {meteors}, not found {not_found}")
    if errors["start_across"]:
        for name in ("start", "end"):
            print(f"median {name} error [deg]: across {median(errors[name + '_across']):.3f}, "
                  f"along at t {median(errors[name + '_at']):.3f}, "
                  f"lag from first/last light {median(errors[name + '_lag']):+.3f}")
    if speed_errors:
        print(f"speed error of shower members: median |dV| "
              f"{median([abs(e) for e in speed_errors]):.1f} %, "
              f"median dV {median(speed_errors):+.1f} %")
    return 0


if __name__ == "__main__":
    sys.exit(main())
