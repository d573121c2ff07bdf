#!/usr/bin/env bash
# Shower association measured on simulated nights: for each date, a night of
# clips of the demo camera (simulated with the true pointing, analysed with
# the observer's profile a degree off and the star fit), analysed with the
# trail log on; then scripts/evaluate-night.py prints, per shower, the share
# of its meteors associated with it and the sporadics wrongly given to it.
#
# usage: scripts/shower-nights.sh BUILD CLIPS DATE...   (e.g. build 60 2024-12-13)
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
clips=${2:?clips per night}
shift 2
mr4="$build/cli/mr4"
home="$build/shower-nights"
rm -rf "$home"
"$mr4" --home "$home" init > /dev/null
camera=(cx=720 cy=480 lng=139.7 lat=35.7 alt=30 tz=32400 rot=0 yx=1 dx=0 dy=0
        k4=0 k3=0.06 k2=-0.03 dlim=40)
"$mr4" --home "$home" profile set sky.XML "${camera[@]}" az=135 ev=45 vx=56 > /dev/null
"$mr4" --home "$home" profile set observer.XML "${camera[@]}" az=136 ev=44 vx=56.5 > /dev/null
"$mr4" --home "$home" settings --set AP.a_log=1 > /dev/null
dirs=()
seed=1
for date in "$@"; do
  dir="$home/$date"
  "$mr4" --home "$home" simulate --night --out "$dir" --profile sky.XML --date "$date" \
      --clips "$clips" --head 10 --tail 10 --seed "$seed" > /dev/null
  "$mr4" --home "$home" dirs add "$dir" --profile observer.XML > /dev/null
  dirs+=("$dir")
  seed=$((seed + 1))
done
status=0
"$mr4" --home "$home" analyze --range all > "$home/analyze.txt" || status=$?
if [ "$status" -ne 0 ] && [ "$status" -ne 2 ]; then exit "$status"; fi
tail -n 4 "$home/analyze.txt"
for dir in "${dirs[@]}"; do
  echo "== $(basename "$dir")"
  python3 "$(dirname "$0")/evaluate-night.py" "$dir" | sed -n '/^shower members/,$p'
done
echo "== all nights"
python3 "$(dirname "$0")/evaluate-night.py" "${dirs[@]}" | sed -n '/^shower members/,$p'
