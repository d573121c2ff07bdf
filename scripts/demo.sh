#!/usr/bin/env bash
# The demo: a home directory under the build tree, and the main job run on it.
set -euo pipefail
build=${1:-build}
mr4="$build/cli/mr4"
home="$build/demo-home"
rm -rf "$home"
mkdir -p "$home"
echo "== demo home: $home"
"$mr4" --home "$home" settings
