#!/usr/bin/env python3
"""Compares the analysis of simulated clips with what was simulated.

Reads, for every "<clip>_truth.json" in the clip directory, the clip's
result file "<clip>A.XML" and matches each simulated object with the
object of the result whose start lies nearest to it. Prints per clip the
expected and found class, and at the end the rate of correct classes and
shower codes, the median errors of the start and end directions [deg] and
the median and signed median error of the speed `Vo` [%] of shower members.
Then a table per shower: its simulated members, the share associated with
it, what became of the others, and the sporadic meteors wrongly associated
with it. With trail logs ("<clip>L.csv", setting AP.a_log) it also gives
the median speed difference dV [%] of the members against their own shower
and how many failed the radiant ("r") and the speed ("dV") tests.

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

usage: evaluate-night.py CLIP_DIR [CLIP_DIR...]   (several nights are pooled)
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


def read_trail_log(path):
    """The shower tests of a trail log: per association block (one per
    object that was not an extra class, in the result file's order) a dict
    code -> (state, dV [%] or None)."""
    blocks = []
    if not os.path.exists(path):
        return None
    with open(path, encoding="latin-1") as f:
        for line in f:
            fields = [x.strip() for x in line.rstrip("\r\n").split(",")]
            if fields[0] == "Shower":
                blocks.append({})
            elif fields[0] == "shower" and blocks and len(fields) > 2:
                dv = float(fields[-1]) if fields[2] in ("passed", "dV_too_big") else None
                blocks[-1][fields[1]] = (fields[2], dv)
    return blocks


class ShowerTable:
    """Outcomes per shower over all clips."""

    def __init__(self):
        self.rows = {}
        self.sporadics = 0
        self.sporadic_as = {}

    def row(self, code):
        return self.rows.setdefault(code, {"members": 0, "own": 0, "other": 0, "spo": 0,
                                           "lost": 0, "r": 0, "dV": 0, "dvs": []})

    def add(self, want, got, tests):
        if want == "spo":
            self.sporadics += 1
            if not got.startswith("_") and got not in ("spo", "(none)"):
                self.sporadic_as[got] = self.sporadic_as.get(got, 0) + 1
            return
        r = self.row(want)
        r["members"] += 1
        if got == want:
            r["own"] += 1
        elif got == "spo":
            r["spo"] += 1
        elif got.startswith("_") or got == "(none)":
            r["lost"] += 1
        else:
            r["other"] += 1
        state, dv = (tests or {}).get(want, (None, None))
        if dv is not None:
            r["dvs"].append(dv)
        if got != want and state == "r_too_big":
            r["r"] += 1
        if got != want and state == "dV_too_big":
            r["dV"] += 1

    def print(self):
        print()
        print("shower members  own   own%  other  spo  lost  r  dV  dV%med  spo-as  spo-as%")
        codes = sorted(set(self.rows) | set(self.sporadic_as))
        for code in codes:
            r = self.row(code)
            wrong = self.sporadic_as.get(code, 0)
            share = f"{100.0 * r['own'] / r['members']:5.1f}" if r["members"] else "    -"
            dv = f"{median(r['dvs']):+6.1f}" if r["dvs"] else "     -"
            print(f"{code:6} {r['members']:7} {r['own']:4} {share}  {r['other']:5} {r['spo']:4} "
                  f"{r['lost']:5} {r['r']:2} {r['dV']:3}  {dv}  {wrong:6}  "
                  f"{100.0 * wrong / max(self.sporadics, 1):6.1f}")
        members = sum(r["members"] for r in self.rows.values())
        own = sum(r["own"] for r in self.rows.values())
        wrong = sum(self.sporadic_as.values())
        print(f"all    {members:7} {own:4} {100.0 * own / max(members, 1):5.1f}  "
              f"sporadics {self.sporadics}, wrongly associated {wrong} "
              f"({100.0 * wrong / max(self.sporadics, 1):.1f} %)")


def median(values):
    return statistics.median(values) if values else float("nan")


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip().splitlines()[-1])
        return 1
    total = correct = 0
    meteors = not_found = shower_total = shower_correct = 0
    errors = {k: [] for k in ("start_across", "start_lag", "start_at", "end_across",
                              "end_lag", "end_at")}
    speed_errors = []
    showers = ShowerTable()
    truths = []
    for directory in sys.argv[1:]:
        truths += sorted(glob.glob(os.path.join(directory, "*_truth.json")))
    for truth_path in truths:
        directory = os.path.dirname(truth_path)
        with open(truth_path) as f:
            truth = json.load(f)
        clip = truth["clip"]
        # Half a sample's exposure: a field of an interlaced frame is half a frame.
        half = 0.5 / truth["fps"] / (2 if truth.get("interlaced") else 1)
        result = os.path.join(directory, clip + "A.XML")
        found = read_objects(result) if os.path.exists(result) else []
        log = read_trail_log(os.path.join(directory, clip + "L.csv"))
        associated = [o for o in found if not o.get("class", "").startswith("_")]
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
                tests = None
                k = next((i for i, o in enumerate(associated) if o is best), None)
                if log is not None and k is not None and k < len(log):
                    tests = log[k]
                showers.add(want, got, tests)
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
    showers.print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
