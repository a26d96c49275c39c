#!/usr/bin/env bash
# Brings a release of TradingView's lightweight-charts into third_party/lightweight-charts/:
# its standalone production build and its licence, with a note of where they came from and
# their sha256. The chart program embeds that build when it is built.
#   bash tools/update_lightweight_charts.sh 5.3.0
set -euo pipefail
version=${1:?usage: bash tools/update_lightweight_charts.sh VERSION}
cd "$(dirname "$0")/.."
into=third_party/lightweight-charts
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && npm pack --silent "lightweight-charts@$version" >/dev/null)
tarball=$(ls "$work"/lightweight-charts-*.tgz)
tar -xzf "$tarball" -C "$work"
build=dist/lightweight-charts.standalone.production.js
if grep -qi '</script' "$work/package/$build"; then
    echo "$build holds </script and cannot stand inside the page" >&2
    exit 1
fi
cp "$work/package/$build" "$into/"
cp "$work/package/LICENSE" "$into/LICENSE"
cat > "$into/SOURCE.md" <<NOTE
# Where these files came from

- Package: npm \`lightweight-charts@$version\` (TradingView, Inc., Apache-2.0), fetched with
  \`npm pack lightweight-charts@$version\` by \`tools/update_lightweight_charts.sh\`.
- Tarball: \`$(basename "$tarball")\`, sha256 \`$(sha256sum "$tarball" | cut -d' ' -f1)\`.
- \`lightweight-charts.standalone.production.js\` is the package's \`$build\`, unchanged:
  sha256 \`$(sha256sum "$into/lightweight-charts.standalone.production.js" | cut -d' ' -f1)\`.
- \`LICENSE\` is the package's licence, unchanged. \`NOTICE\` holds the attribution notice that
  the licence asks to keep; check it against the release's banner when updating.
NOTE
echo "lightweight-charts $version in $into; check NOTICE and run the tests"
