#!/usr/bin/env python3
"""Builds V14.jx.csv, the shower catalogue: the established meteor showers
of the IAU Meteor Data Center list with the values of the IMO meteor shower
working list.

Sources:
  - International Meteor Organization, Meteor Shower Calendar 2024
    (J. Rendtel), table 5 "Working List of Visual Meteor Showers" (activity
    period, date and solar longitude of the maximum, radiant at the maximum,
    V-infinity) and table 6 (radiant positions during the activity period,
    from which the daily drifts below are taken); the daytime radio showers
    from its table 7.
  - IAU Meteor Data Center, list of established showers (shower code and
    number, parent body; orbital elements as listed there, rounded).
Solar longitudes refer to the equinox J2000.0. Where a shower has no
orbit in the list below its elements are 0.

Columns (the catalogue's 33 columns in order; the file has no version
column and its texts no "_" prefix; line 1 is a header that the reader
skips): mk, code, index, solp, sol1, sol2, rap, decp, vg, dra, ddec, dvg,
a, q, e, peri, node, incl, sdr, sdv, sdd, sig, ip, ns, data source,
activity, spectrum, explosion, parent, iauno, name, relation, remark.

  - sol1, sol2: the activity period's first and last dates converted to
    solar longitude for the year 2024 (low-precision Sun, below).
  - vg: geocentric speed from the published V-infinity, vg^2 = vinf^2 - 125
    (km/s).
  - dra, ddec: radiant drift in degrees per day.
  - sdr: radiant tolerance in degrees, chosen so that 3 x sdr (the default
    multiple of the association) is the usual association radius of the
    shower: 0.4 (1.2 deg) for compact radiants such as the Perseids and
    Geminids, 0.7 (2.1 deg) for the medium ones, 1.0 (3 deg) for diffuse
    radiants such as the Taurids and the Capricornids.
  - sdv: speed tolerance, 0.025 x vg (km/s), so that the default speed
    factor of the class page accepts about +-25 %.
  - sdd, sig, ip, ns, dvg: 0; spectrum, explosion, relation, remark mostly
    empty.
Texts must hold no comma (the table files have no quoting).

Usage: data/make_shower_catalogue.py [OUTPUT]   (default: data/V14.jx.csv)
"""
import datetime
import math
import os
import sys

COMPACT, MEDIUM, DIFFUSE = 0.4, 0.7, 1.0
YEAR = 2024

# code, IAU number, name, activity start (month, day), end (month, day),
# solar longitude of the maximum, radiant ra and dec at the maximum (deg),
# V-infinity (km/s), drift in ra and dec (deg/day), sdr, parent body,
# ZHR (the activity text), relation.
SHOWERS = [
    ("QUA", 10, "Quadrantids", (12, 28), (1, 12), 283.15, 230, 49, 41, 0.8, -0.2, COMPACT, "2003 EH1", "120", ""),
    ("GUM", 404, "gamma Ursae Minorids", (1, 10), (1, 22), 298.0, 228, 67, 31, 0.0, 0.0, MEDIUM, "", "3", ""),
    ("ACE", 102, "alpha Centaurids", (1, 31), (2, 20), 319.2, 210, -59, 58, 1.2, -0.3, MEDIUM, "", "6", ""),
    ("GNO", 118, "gamma Normids", (2, 25), (3, 28), 354.0, 239, -50, 56, 1.0, 0.0, MEDIUM, "", "2", ""),
    ("LYR", 6, "April Lyrids", (4, 14), (4, 30), 32.32, 271, 34, 49, 1.1, 0.0, COMPACT, "C/1861 G1 (Thatcher)", "18", ""),
    ("PPU", 137, "pi Puppids", (4, 15), (4, 28), 33.5, 110, -45, 18, 0.6, -0.2, MEDIUM, "26P/Grigg-Skjellerup", "var", ""),
    ("APS", 144, "Daytime April Piscids", (4, 8), (4, 29), 32.5, 9, 11, 29, 0.9, 0.4, DIFFUSE, "", "radio", ""),
    ("ETA", 31, "eta Aquariids", (4, 19), (5, 28), 45.5, 338, -1, 66, 0.9, 0.4, MEDIUM, "1P/Halley", "50", "Halley stream"),
    ("ELY", 145, "eta Lyrids", (5, 3), (5, 14), 50.0, 287, 44, 43, 0.7, 0.1, MEDIUM, "C/1983 H1 (IRAS-Araki-Alcock)", "3", ""),
    ("ARI", 171, "Daytime Arietids", (5, 14), (6, 24), 76.6, 44, 24, 38, 0.7, 0.4, DIFFUSE, "96P/Machholz", "radio", "Machholz complex"),
    ("ZPE", 172, "Daytime zeta Perseids", (5, 20), (7, 5), 78.6, 62, 23, 29, 1.1, 0.4, DIFFUSE, "2P/Encke", "radio", "Taurid complex"),
    ("BTA", 173, "Daytime beta Taurids", (6, 5), (7, 17), 96.7, 86, 19, 29, 0.8, 0.2, DIFFUSE, "2P/Encke", "radio", "Taurid complex"),
    ("JBO", 170, "June Bootids", (6, 22), (7, 2), 95.7, 224, 48, 18, 0.4, -0.3, MEDIUM, "7P/Pons-Winnecke", "var", ""),
    ("JPE", 175, "July Pegasids", (7, 4), (7, 14), 107.5, 347, 11, 64, 0.8, 0.2, MEDIUM, "C/1979 Y1 (Bradfield)", "3", ""),
    ("CAP", 1, "alpha Capricornids", (7, 3), (8, 15), 127.0, 307, -10, 23, 0.9, 0.3, DIFFUSE, "169P/NEAT", "5", ""),
    ("SDA", 5, "Southern delta Aquariids", (7, 12), (8, 23), 127.0, 340, -16, 41, 0.8, 0.2, DIFFUSE, "96P/Machholz", "25", "Machholz complex"),
    ("PAU", 183, "Piscis Austrinids", (7, 15), (8, 10), 125.0, 341, -30, 35, 1.0, 0.2, DIFFUSE, "", "5", ""),
    ("GDR", 184, "July gamma Draconids", (7, 25), (7, 31), 125.3, 280, 51, 27, 0.0, 0.0, MEDIUM, "", "5", ""),
    ("SIA", 3, "Southern iota Aquariids", (7, 25), (8, 15), 132.0, 334, -15, 34, 1.0, 0.2, DIFFUSE, "", "2", "Machholz complex"),
    ("ERI", 191, "eta Eridanids", (7, 31), (8, 19), 134.0, 41, -13, 64, 0.6, 0.2, MEDIUM, "C/1852 K1 (Chacornac)", "3", ""),
    ("NDA", 26, "Northern delta Aquariids", (7, 15), (8, 25), 136.0, 335, -5, 42, 0.8, 0.2, DIFFUSE, "96P/Machholz", "4", "Machholz complex"),
    ("PER", 7, "Perseids", (7, 17), (8, 24), 140.0, 48, 58, 59, 1.3, 0.15, COMPACT, "109P/Swift-Tuttle", "100", ""),
    ("KCG", 12, "kappa Cygnids", (8, 3), (8, 25), 145.0, 286, 59, 25, 0.3, 0.1, DIFFUSE, "2008 ED69", "3", ""),
    ("NIA", 33, "Northern iota Aquariids", (8, 11), (8, 31), 148.0, 327, -6, 31, 1.0, 0.2, DIFFUSE, "", "3", "Machholz complex"),
    ("AUR", 206, "Aurigids", (8, 28), (9, 5), 158.6, 91, 39, 66, 1.1, 0.0, COMPACT, "C/1911 N1 (Kiess)", "6", ""),
    ("SPE", 208, "September epsilon Perseids", (9, 5), (9, 21), 166.7, 48, 40, 64, 1.1, 0.1, COMPACT, "", "5", ""),
    ("DSX", 221, "Daytime Sextantids", (9, 9), (10, 9), 184.3, 152, 0, 32, 0.7, -0.3, MEDIUM, "2005 UD", "radio", "Phaethon-Geminid complex"),
    ("STA", 2, "Southern Taurids", (9, 10), (11, 20), 197.0, 32, 9, 27, 0.8, 0.25, DIFFUSE, "2P/Encke", "5", "Taurid complex"),
    ("OCT", 281, "October Camelopardalids", (10, 5), (10, 6), 192.58, 164, 79, 45, 0.0, 0.0, COMPACT, "", "5", ""),
    ("DRA", 9, "October Draconids", (10, 6), (10, 10), 195.4, 262, 54, 20, 0.0, 0.0, COMPACT, "21P/Giacobini-Zinner", "var", ""),
    ("EGE", 23, "epsilon Geminids", (10, 14), (10, 27), 205.0, 102, 27, 70, 0.7, 0.0, MEDIUM, "", "3", ""),
    ("ORI", 8, "Orionids", (10, 2), (11, 7), 208.0, 95, 16, 66, 0.7, 0.1, MEDIUM, "1P/Halley", "20", "Halley stream"),
    ("LMI", 22, "Leonis Minorids", (10, 19), (10, 27), 211.0, 162, 37, 62, 0.8, -0.4, MEDIUM, "C/1739 K1 (Zanotti)", "2", ""),
    ("NTA", 17, "Northern Taurids", (10, 20), (12, 10), 230.0, 58, 22, 29, 0.8, 0.15, DIFFUSE, "2P/Encke", "5", "Taurid complex"),
    ("LEO", 13, "Leonids", (11, 6), (11, 30), 235.27, 152, 22, 71, 0.7, -0.4, COMPACT, "55P/Tempel-Tuttle", "15", ""),
    ("AMO", 246, "alpha Monocerotids", (11, 15), (11, 25), 239.32, 117, 1, 65, 1.1, -0.1, COMPACT, "", "var", ""),
    ("NOO", 250, "November Orionids", (11, 13), (12, 6), 246.0, 91, 16, 44, 0.8, 0.0, MEDIUM, "", "3", ""),
    ("PHO", 254, "Phoenicids", (11, 28), (12, 9), 250.0, 18, -53, 18, 0.8, 0.0, MEDIUM, "289P/Blanpain", "var", ""),
    ("DKD", 336, "December kappa Draconids", (11, 29), (12, 13), 250.2, 186, 70, 43, 0.5, -0.2, MEDIUM, "", "2", ""),
    ("PSU", 339, "psi Ursae Majorids", (12, 1), (12, 10), 253.0, 168, 44, 61, 0.6, -0.3, MEDIUM, "", "2", ""),
    ("PUP", 255, "Puppid-Velids", (12, 1), (12, 15), 255.0, 123, -45, 40, 0.8, 0.0, DIFFUSE, "", "10", ""),
    ("MON", 19, "December Monocerotids", (11, 27), (12, 20), 257.0, 100, 8, 41, 0.8, 0.0, MEDIUM, "C/1917 F1 (Mellish)", "3", ""),
    ("HYD", 16, "sigma Hydrids", (12, 3), (12, 20), 257.0, 125, 2, 58, 0.7, -0.2, MEDIUM, "", "7", ""),
    ("GEM", 4, "Geminids", (12, 4), (12, 20), 262.2, 112, 33, 35, 1.0, -0.15, COMPACT, "3200 Phaethon", "150", "Phaethon-Geminid complex"),
    ("COM", 20, "Comae Berenicids", (12, 12), (12, 23), 264.0, 175, 18, 65, 0.8, -0.2, MEDIUM, "", "3", ""),
    ("DLM", 32, "December Leonis Minorids", (12, 5), (2, 4), 268.0, 161, 30, 64, 0.8, -0.4, MEDIUM, "", "5", ""),
    ("URS", 15, "Ursids", (12, 17), (12, 26), 270.7, 217, 76, 33, 0.0, 0.0, COMPACT, "8P/Tuttle", "10", ""),
]

# IAU MDC orbital elements (rounded) of the showers that have one here:
# q (AU), e, argument of perihelion, ascending node, inclination (deg);
# a = q / (1 - e).
ORBITS = {
    "QUA": (0.978, 0.683, 171.4, 283.3, 71.6),
    "PER": (0.953, 0.963, 151.4, 139.4, 113.0),
    "LEO": (0.984, 0.903, 172.5, 235.3, 162.5),
    "GEM": (0.143, 0.896, 324.3, 261.4, 23.5),
}

DATA_SOURCE = "IMO WL 2024"


def solar_longitude(month, day):
    """The Sun's geometric longitude (J2000.0, degrees) at 0h UT of a date
    of YEAR (Meeus, Astronomical Algorithms, ch. 25, low precision)."""
    jd = 367 * YEAR - (7 * (YEAR + (month + 9) // 12)) // 4 + (275 * month) // 9 + day + 1721013.5
    t = (jd - 2451545.0) / 36525.0
    l0 = 280.46646 + 36000.76983 * t + 0.0003032 * t * t
    m = math.radians(357.52911 + 35999.05029 * t - 0.0001537 * t * t)
    c = ((1.914602 - 0.004817 * t - 0.000014 * t * t) * math.sin(m)
         + (0.019993 - 0.000101 * t) * math.sin(2 * m) + 0.000289 * math.sin(3 * m))
    of_date = l0 + c
    # From the equinox of date to J2000.0 (general precession in longitude).
    return (of_date - 1.396971 * t) % 360.0


def fmt(x):
    return f"{x:.6f}"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "V14.jx.csv")
    header = ("mk,code,index,solp,sol1,sol2,rap,decp,vg,dra,ddec,dvg,a,q,e,peri,node,"
              "incl,sdr,sdv,sdd,sig,ip,ns,data source,activity,spectrum,explosion,"
              "parent,iauno,name,relation,remark")
    assert len(header.split(",")) == 33
    codes = set()
    lines = [header]
    for index, s in enumerate(SHOWERS, start=1):
        (code, iau, name, start, end, solp, ra, dec, vinf, dra, ddec, sdr,
         parent, zhr, relation) = s
        assert code not in codes, code
        codes.add(code)
        vg = math.sqrt(vinf * vinf - 125.0)
        q = e = peri = node = incl = a = 0.0
        if code in ORBITS:
            q, e, peri, node, incl = ORBITS[code]
            a = q / (1.0 - e)
        activity = "radio" if zhr == "radio" else f"ZHR {zhr}"
        fields = [
            "IMO", code, str(index), fmt(solp), fmt(solar_longitude(*start)),
            fmt(solar_longitude(*end)), fmt(ra), fmt(dec), fmt(vg), fmt(dra),
            fmt(ddec), fmt(0.0), fmt(a), fmt(q), fmt(e), fmt(peri), fmt(node),
            fmt(incl), fmt(sdr), fmt(0.025 * vg), fmt(0.0), fmt(0.0), fmt(0.0),
            "0", DATA_SOURCE, activity, "", "", parent, fmt(iau), name,
            relation, "",
        ]
        assert len(fields) == 33 and not any("," in f for f in fields), code
        lines.append(",".join(fields))
    with open(out + ".tmp", "wb") as f:
        f.write("".join(line + "\r\n" for line in lines).encode("ascii"))
    os.replace(out + ".tmp", out)


if __name__ == "__main__":
    main()
