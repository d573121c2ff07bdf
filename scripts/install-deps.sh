#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, when they
# are missing. Runs as root, or through sudo. Add a package here when the
# first code that needs it arrives.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config make
  libgtest-dev libgmock-dev libbenchmark-dev
  libglib2.0-dev
  libpng-dev libturbojpeg0-dev
  liberfa-dev   # the trajectory solver; the astronomy tests compare against ERFA
  ffmpeg        # tests: ffprobe confirms that written AVI files are standard
  # replay filter plug-in and its GstHarness tests (gstreamer-check-1.0)
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  # decoders of compressed clips on the replay road (XviD, H.264, WMV, FLV;
  # H.264 needs the parser of -bad); the tests' encoder x264enc (-ugly) and
  # gst-launch-1.0 for the speed measurement
  gstreamer1.0-libav gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly
  gstreamer1.0-tools
  # the desktop program: Qt 6 Widgets and Test with moc, the offscreen and X11
  # platform plug-ins (tests and `mr4 screenshot` run offscreen), a font
  qt6-base-dev qt6-qpa-plugins fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "install-deps: missing packages (${missing[*]}) and neither root nor sudo" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
