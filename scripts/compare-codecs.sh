#!/usr/bin/env bash
# Analyses the same simulated night in uncompressed, Huffyuv (lossless),
# Motion JPEG, H.264 and WMV form and prints, per clip, the class of each form. Needs a built
# program and the demo home (make demo): the clips of build/demo-home/clips
# (or of CLIP_DIR, a simulated night of the demo camera) are re-encoded by
# GStreamer into build/codecs/<form>/, each form with its own home. The last
# line counts the clips whose class differs from the uncompressed one.
#   scripts/compare-codecs.sh [BUILD_DIR [CLIP_DIR]]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
mr4="$build/cli/mr4"
source_dir=$(cd "${2:-$build/demo-home/clips}" && pwd)
root="$build/codecs"
rm -rf "$root"
# Each form's converter and encoder. A JPEG holds full-range luma (black at
# 0, what a Motion JPEG camera writes and what its decoder announces): the
# frames go through BGR first, as the limited-range source has no colour
# range of its own for the converter to expand.
declare -A encoder=(
  # Lossless: any class that differs here comes from the replay, not the codec.
  [huffyuv]="videoconvert ! video/x-raw,format=Y42B ! avenc_huffyuv ! avimux"
  [mjpeg]="videoconvert ! video/x-raw,format=BGR ! videoconvert ! video/x-raw,format=I420,colorimetry=1:4:0:0 ! jpegenc quality=90 ! avimux"
  [h264]="videoconvert ! video/x-raw,format=I420 ! x264enc speed-preset=faster qp-min=10 qp-max=20 ! video/x-h264,profile=high ! avimux"
  # A constant quantizer: this encoder ignores its bitrate property and
  # would otherwise write about 1 kB a frame, which erases the stars.
  [wmv]="videoconvert ! video/x-raw,format=I420 ! avenc_wmv2 pass=quant quantizer=2 ! asfmux"
)
forms=(raw huffyuv mjpeg h264 wmv)
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
      gst-launch-1.0 -q filesrc location="$avi" ! decodebin ! ${encoder[$form]} ! \
        filesink location="$clips/$base.$ext"
    fi
  done
  "$mr4" --home "$home" dirs add "$clips" --profile demo.XML > /dev/null
  echo "== $form"
  "$mr4" --home "$home" analyze --threads 2 | tail -n 5 || true
done
echo "== classes per clip: ${forms[*]}"
declare -A differing=()
for truth in "$source_dir"/*_truth.json; do
  base=$(basename "$truth" _truth.json)
  line="$base"
  for form in "${forms[@]}"; do
    xml="$root/$form/clips/${base}A.XML"
    cls=$(grep -o ' class="[^"]*"' "$xml" 2>/dev/null | head -n 1 | cut -d'"' -f2 || true)
    cls=${cls:-(none)}
    [ "$form" = raw ] && raw_cls=$cls
    [ "$cls" != "$raw_cls" ] && differing[$form]=$(( ${differing[$form]:-0} + 1 ))
    line="$line $cls"
  done
  echo "$line"
done
summary="differing from raw:"
for form in "${forms[@]:1}"; do summary="$summary $form ${differing[$form]:-0}"; done
echo "$summary"
