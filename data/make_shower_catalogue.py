#!/usr/bin/env python3
"""Builds V14.jx.csv, the shower catalogue, from the IAU Meteor Data Center
lists checked in under data/iau-mdc/ (see its README.md for their origin,
citation and sha256) and the hand-kept selection data/iau-mdc/selection.csv,
which names the showers and the one solution (AdNo) each takes.

Every value of a row is the chosen solution's, as published:
  - solp, rap, decp: LoS, Ra, De (J2000, degrees).
  - vg: Vg, the geocentric speed (km/s), never derived from V-infinity.
  - dra, ddec: dRa, dDe, the radiant's motion per degree of solar
    longitude as the list gives it. The association applies these values
    per day (a day is 0.9856 degrees of solar longitude), which moves the
    radiant 1.5 % farther than the list means: at most 0.6 deg in right
    ascension at the end of the longest window (NIA), and under 0.3 deg
    on the sky for every other shower.
  - sol1, sol2: LoSb, LoSe of the solution; where the solution has none,
    the selection file's (with its source in the remark).
  - a, q, e, peri, node, incl: the solution's orbit; 0 where not given.
  - ns: N, the number of meteors of the solution.
  - iauno, code, name, activity, parent: IAUNo, Code, shower name,
    activity, Origin.
  - data source: the list, the AdNo and the reference, for example
    "MDC2026 AdNo 013 Jenniskens 2023".
  - relation: "complex NNN" for a member of a complex group.
  - mk: "MDC" for the established list, "MDC-full" for the full list.
Chosen by rule:
  - sdr, the radiant tolerance (degrees): by the selection's radiant class,
    compact 0.4, medium 0.7, diffuse 1.0, so that 3 x sdr (the default
    multiple "Nr") is 1.2, 2.1 or 3 degrees.
  - sdv, the speed tolerance (km/s): see speed_tolerance() below.
  - dvg, sdd, sig, ip: 0 (the lists give none); spectrum, explosion: empty.

Format: the catalogue's 33 columns in order, floats with six decimals, a
header line that the reader skips, CR LF line ends, one byte per
character, texts without commas (the table files have no quoting).

Usage: data/make_shower_catalogue.py [OUTPUT]   (default: data/V14.jx.csv)
"""
import csv
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MDC = os.path.join(HERE, "iau-mdc")
ESTABLISHED = "streamestablisheddata2026.txt"
FULL = "streamfulldata-wmpl.csv"
SDR = {"compact": 0.4, "medium": 0.7, "diffuse": 1.0}
VIDEO_SURVEY = "Jenniskens, 2023"


def speed_tolerance(vg):
    """sdv [km/s]. With the default speed multiple "Nv" 10 the association
    accepts a derived speed within L = 10 x sdv / vg of the expected one;
    sdv = vg (20 + 0.3 vg) / 1000 makes L = 20 % + 0.3 % per km/s of vg
    (26 % at vg 20, 32 % at 40, 41 % at 70). The single-station speed
    estimate runs high, the more so the faster the shower (median +10 to
    +16 % for the Taurids, about +22 % at vg 35-60, +27 to +35 % at 64-70 on
    simulated nights), and a fixed 25 % left the typical fast meteor
    outside (docs/notes/showers.md)."""
    return vg * (20.0 + 0.3 * vg) / 1000.0


# The columns of the two lists, by position.
ESTABLISHED_COLUMNS = {
    "iau": 1, "adno": 2, "code": 3, "status": 4, "name": 6, "activity": 7, "losb": 8,
    "lose": 9, "los": 10, "ra": 11, "de": 12, "dra": 13, "dde": 14, "vg": 15, "a": 22,
    "q": 23, "e": 24, "peri": 25, "node": 26, "inc": 27, "n": 28, "group": 29,
    "origin": 31, "reference": 35,
}
FULL_COLUMNS = {
    "iau": 1, "adno": 2, "code": 3, "name": 4, "activity": 5, "status": 6, "los": 7,
    "ra": 8, "de": 9, "dra": 10, "dde": 11, "vg": 12, "a": 13, "q": 14, "e": 15,
    "peri": 16, "node": 17, "inc": 18, "n": 19, "group": 20, "origin": 22,
    "reference": 25,
}


def number(text):
    """A published number, or None for a blank (or bracketed) field."""
    try:
        return float(text.replace(" ", ""))
    except ValueError:
        return None


def read_list(name):
    """The solutions of one list as dicts of stripped texts, keyed by
    (code, AdNo)."""
    path = os.path.join(MDC, name)
    columns = ESTABLISHED_COLUMNS if name == ESTABLISHED else FULL_COLUMNS
    solutions = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if not line.strip() or line.startswith((":", "+")):
                continue
            if name == ESTABLISHED:
                fields = line.strip('"').split('"|"')
            else:
                fields = line.split("|")
            s = {k: fields[i].strip() for k, i in columns.items()}
            solutions[(s["code"], int(s["adno"]))] = s
    return solutions


def reference(s):
    """The reference without its markup, numbering and commas."""
    text = re.sub(r"<[^>]*>", "", s["reference"])
    text = re.sub(r"^\s*\d+[\]\)]\s*", "", text)
    text = text.replace(",", "").strip().rstrip(".")
    return re.sub(r"\s+", " ", text)


def ascii_text(text):
    text = text.replace(",", " ").strip()
    return re.sub(r"\s+", " ", text.encode("ascii", "replace").decode("ascii"))


def read_selection():
    with open(os.path.join(MDC, "selection.csv"), encoding="ascii") as f:
        lines = [line for line in f if not line.startswith("#")]
    return list(csv.DictReader(lines))


def fmt(x):
    return f"{x:.6f}"


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "V14.jx.csv")
    lists = {"est": read_list(ESTABLISHED), "full": read_list(FULL)}
    header = ("mk,code,index,solp,sol1,sol2,rap,decp,vg,dra,ddec,dvg,a,q,e,peri,node,"
              "incl,sdr,sdv,sdd,sig,ip,ns,data source,activity,spectrum,explosion,"
              "parent,iauno,name,relation,remark")
    assert len(header.split(",")) == 33
    lines = [header]
    codes = set()
    for index, sel in enumerate(read_selection(), start=1):
        code, adno = sel["code"], int(sel["adno"])
        assert code not in codes, code
        codes.add(code)
        s = lists[sel["list"]][(code, adno)]
        if sel["list"] == "est":
            # The rule: the video survey's solution wherever there is one.
            survey = [k for k, v in lists["est"].items()
                      if k[0] == code and VIDEO_SURVEY in v["reference"]]
            assert not survey or survey == [(code, adno)] or sel["remark"], code
        sol1, sol2 = number(s.get("losb", "")), number(s.get("lose", ""))
        if sol1 is None or sol2 is None:
            sol1, sol2 = float(sel["sol1"]), float(sel["sol2"])
        else:
            assert not sel["sol1"] and not sel["sol2"], code
        vg = number(s["vg"])
        assert vg and vg > 0, code
        value = {k: number(s[k]) or 0.0 for k in ("a", "q", "e", "peri", "node", "inc")}
        source = "MDC2026" if sel["list"] == "est" else "MDC2023 full list"
        group = int(number(s["group"]) or 0)
        fields = [
            "MDC" if sel["list"] == "est" else "MDC-full", code, str(index),
            fmt(number(s["los"])), fmt(sol1), fmt(sol2), fmt(number(s["ra"])),
            fmt(number(s["de"])), fmt(vg), fmt(number(s["dra"]) or 0.0),
            fmt(number(s["dde"]) or 0.0), fmt(0.0),
            fmt(value["a"]), fmt(value["q"]), fmt(value["e"]), fmt(value["peri"]),
            fmt(value["node"]), fmt(value["inc"]),
            fmt(SDR[sel["radiant"]]), fmt(speed_tolerance(vg)), fmt(0.0), fmt(0.0), fmt(0.0),
            str(int(number(s["n"]) or 0)),
            f"{source} AdNo {adno:03d} {reference(s)}", ascii_text(s["activity"]), "", "",
            ascii_text(s["origin"]), fmt(number(s["iau"])), ascii_text(s["name"]),
            f"complex {group}" if group else "", ascii_text(sel["remark"]),
        ]
        assert len(fields) == 33 and not any("," in f for f in fields), code
        lines.append(",".join(fields))
    with open(out + ".tmp", "wb") as f:
        f.write("".join(line + "\r\n" for line in lines).encode("ascii"))
    os.replace(out + ".tmp", out)


if __name__ == "__main__":
    main()
