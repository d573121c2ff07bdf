#!/usr/bin/env bash
# Analyses the same simulated night in uncompressed, Motion JPEG, H.264 and
# WMV form and prints, per clip, the class of each form. Needs a built
# program and the demo home (make demo): the clips of build/demo-home/clips
# are re-encoded by GStreamer into build/codecs/<form>/, each form with its
# own home.
#   scripts/compare-codecs.sh [BUILD_DIR]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
mr4="$build/cli/mr4"
source_dir="$build/demo-home/clips"
root="$build/codecs"
rm -rf "$root"
declare -A encoder=(
  [mjpeg]="jpegenc quality=90 ! avimux"
  [h264]="x264enc speed-preset=faster qp-min=10 qp-max=20 ! video/x-h264,profile=high ! avimux"
  [wmv]="avenc_wmv2 bitrate=8000000 ! asfmux"
)
forms=(raw mjpeg h264 wmv)
for form in "${forms[@]}"; do
  home="$root/$form"
  clips="$home/clips"
  mkdir -p "$clips"
  "$mr4" --home "$home" init > /dev/null
  cp "$build/demo-home/PROF/"*.XML "$home/PROF/"
  for avi in "$source_dir"/*.avi; do
    base=$(basename "$avi" .avi)
    cp "$source_dir/$base.xml" "$source_dir/${base}M.BMP" "$source_dir/${base}_truth.json" "$clips/"
    if [ "$form" = raw ]; then
      cp "$avi" "$clips/"
    else
      ext=avi; [ "$form" = wmv ] && ext=wmv
      gst-launch-1.0 -q filesrc location="$avi" ! decodebin ! videoconvert ! \
        video/x-raw,format=I420 ! ${encoder[$form]} ! filesink location="$clips/$base.$ext"
    fi
  done
  "$mr4" --home "$home" dirs add "$clips" --profile demo.XML > /dev/null
  echo "== $form"
  "$mr4" --home "$home" analyze --threads 2 | tail -n 5 || true
done
echo "== classes per clip: ${forms[*]}"
for truth in "$source_dir"/*_truth.json; do
  base=$(basename "$truth" _truth.json)
  line="$base"
  for form in "${forms[@]}"; do
    xml="$root/$form/clips/${base}A.XML"
    cls=$(grep -o ' class="[^"]*"' "$xml" 2>/dev/null | head -n 1 | cut -d'"' -f2 || true)
    line="$line ${cls:-(none)}"
  done
  echo "$line"
done
