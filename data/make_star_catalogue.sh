#!/usr/bin/env bash
# Builds the star catalogue Smap2000S.csv from the Hipparcos stars shipped in
# the npm package d3-celestial (file data/stars.14.json: about 118,000 stars,
# J2000 positions in degrees, V magnitude "mag" and B-V colour index "bv").
#
# Output: one header line, then per star "ra,dec,V,B-V" with ra in 0..360
# degrees (the source gives -180..180), dec in degrees; a star without a
# colour index gets 0. Lines end with CR LF. Stars keep the source's order.
#
# Usage: data/make_star_catalogue.sh [OUTPUT]   (default: data/Smap2000S.csv)
# Needs npm, node and tar.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/Smap2000S.csv}"
package="d3-celestial@0.7.35"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

(cd "$work" && npm pack --silent "$package" >/dev/null)
tar -xzf "$work"/d3-celestial-*.tgz -C "$work" package/data/stars.14.json

node - "$work/package/data/stars.14.json" "$out.tmp" <<'EOF'
const fs = require('fs');
const [source, target] = process.argv.slice(2);
const features = JSON.parse(fs.readFileSync(source, 'utf8')).features;
const lines = ['ra,dec,vmag,bv'];
for (const f of features) {
  let [ra, dec] = f.geometry.coordinates;
  if (ra < 0) ra += 360;
  const mag = Number(f.properties.mag);
  const bvText = f.properties.bv;
  const bv = bvText === undefined || bvText === null || String(bvText).trim() === ''
      ? 0 : Number(bvText);
  if (!Number.isFinite(ra) || !Number.isFinite(dec) || !Number.isFinite(mag) ||
      !Number.isFinite(bv)) {
    throw new Error('star ' + f.id + ': bad values');
  }
  lines.push(ra.toFixed(4) + ',' + dec.toFixed(4) + ',' + mag.toFixed(2) + ',' +
             bv.toFixed(3));
}
fs.writeFileSync(target, lines.join('\r\n') + '\r\n');
console.log(features.length + ' stars');
EOF
mv "$out.tmp" "$out"
