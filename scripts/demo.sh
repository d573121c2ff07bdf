#!/usr/bin/env bash
# The demo: a home directory under the build tree, a simulated night of
# clips, its parallel analysis, the meteor summary CSV and the period report;
# a two-station night and the trajectories of the meteors both stations saw.
set -euo pipefail
build=${1:-build}
build=$(cd "$build" && pwd)
mr4="$build/cli/mr4"
# Absolute: the program runs its commands in the home directory.
home="$build/demo-home"
clips="$home/clips"
out="$home/out"
rm -rf "$home"
echo "== demo home: $home"
"$mr4" --home "$home" init
# The camera the night is simulated with, and the observer's profile of it:
# the same camera as first set up, a degree off in pointing.
camera=(cx=720 cy=480 lng=139.7 lat=35.7 alt=30 tz=32400 rot=0 yx=1 dx=0 dy=0
        k4=0 k3=0.06 k2=-0.03 dlim=40)
"$mr4" --home "$home" profile set demo_sky.XML "${camera[@]}" az=135 ev=45 vx=56 > /dev/null
"$mr4" --home "$home" profile set demo.XML "${camera[@]}" az=136 ev=44 vx=56.5 > /dev/null
echo "== simulate a night"
"$mr4" --home "$home" simulate --night --out "$clips" --profile demo_sky.XML \
    --date 2024-08-12 --clips 20 --head 10 --tail 10 --seed 1
"$mr4" --home "$home" dirs add "$clips" --profile demo.XML
echo "== simulate a two-station night (a second station 60 km east, looking south)"
# Station B points at the middle of station A's field at meteor heights.
"$mr4" --home "$home" profile set demo_sky_b.XML "${camera[@]}" lng=140.3644 lat=35.6982 alt=50 \
    az=175.6 ev=54.7 vx=56 > /dev/null
"$mr4" --home "$home" profile set demo_b.XML "${camera[@]}" lng=140.3644 lat=35.6982 alt=50 \
    az=175.1 ev=54.2 vx=56.3 > /dev/null
printf '%s\r\n' "# station,lng,lat,alt m,true camera,clips" \
    "JP0001_A,139.7,35.7,30,demo_sky.XML,$home/net-A" \
    "JP0002_B,140.3644,35.6982,50,demo_sky_b.XML,$home/net-B" > "$home/stations.csv"
"$mr4" --home "$home" simulate --stations "$home/stations.csv" --night --out "$home/net-truth" \
    --date 2024-08-13 --clips 4 --singles 1 --head 10 --tail 10 --seed 2
"$mr4" --home "$home" dirs add "$home/net-A" --profile demo.XML
"$mr4" --home "$home" dirs add "$home/net-B" --profile demo_b.XML
echo "== analyse the night in parallel (star fit, detection, reduction, showers)"
# Exit status 2 (some clip failed) still lets the exports show what was found.
status=0
"$mr4" --home "$home" analyze || status=$?
if [ "$status" -ne 0 ] && [ "$status" -ne 2 ]; then exit "$status"; fi
mkdir -p "$out"
echo "== meteor summary CSV and period report"
"$mr4" --home "$home" --yes export-csv --out "$out"
"$mr4" --home "$home" --yes report --out "$out"
echo "== trajectories of the meteors both stations saw"
"$mr4" --home "$home" trajectory --out "$out"
echo "== files written"
ls "$clips"/*A.XML | sed 's/^/  /'
ls "$out"/* | sed 's/^/  /'
exit "$status"
