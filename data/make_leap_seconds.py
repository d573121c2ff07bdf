#!/usr/bin/env python3
"""Builds Qorx_LSec.csv, the leap-second table: one row per change of
TAI - UTC since UTC took whole-second steps (1972-01-01), oldest first.

Source: IERS Earth Orientation Center, Bulletin C (the announcements of
each leap second), as summarised in the IERS file Leap_Second.dat
(https://hpiers.obspm.fr/iers/bul/bulc/Leap_Second.dat). The value holds
from 0h UTC of the date given. Bulletin C 68 (2024) announced no further
leap second, so 37 s since 2017-01-01 is the latest value.

Output: the table-file format of the program, version 101: a header line,
then "101,Y,M,D,LS,dls" per row, dls with six decimals, lines ending CR LF.

Usage: data/make_leap_seconds.py [OUTPUT]   (default: data/Qorx_LSec.csv)
"""
import os
import sys

# (year, month, day, TAI - UTC in whole seconds) from the date on.
LEAP_SECONDS = [
    (1972, 1, 1, 10),
    (1972, 7, 1, 11),
    (1973, 1, 1, 12),
    (1974, 1, 1, 13),
    (1975, 1, 1, 14),
    (1976, 1, 1, 15),
    (1977, 1, 1, 16),
    (1978, 1, 1, 17),
    (1979, 1, 1, 18),
    (1980, 1, 1, 19),
    (1981, 7, 1, 20),
    (1982, 7, 1, 21),
    (1983, 7, 1, 22),
    (1985, 7, 1, 23),
    (1988, 1, 1, 24),
    (1990, 1, 1, 25),
    (1991, 1, 1, 26),
    (1992, 7, 1, 27),
    (1993, 7, 1, 28),
    (1994, 7, 1, 29),
    (1996, 1, 1, 30),
    (1997, 7, 1, 31),
    (1999, 1, 1, 32),
    (2006, 1, 1, 33),
    (2009, 1, 1, 34),
    (2012, 7, 1, 35),
    (2015, 7, 1, 36),
    (2017, 1, 1, 37),
]

VERSION = 101


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "Qorx_LSec.csv")
    lines = ["_Version,_Y,_M,_D,_LS,_dls"]
    previous = None
    for y, m, d, ls in LEAP_SECONDS:
        assert previous is None or ls == previous + 1, (y, m, d)
        previous = ls
        lines.append(f"{VERSION},{y},{m},{d},{ls},0.000000")
    with open(out + ".tmp", "wb") as f:
        f.write("".join(line + "\r\n" for line in lines).encode("ascii"))
    os.replace(out + ".tmp", out)


if __name__ == "__main__":
    main()
