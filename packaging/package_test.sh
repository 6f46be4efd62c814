#!/usr/bin/env bash
# The Debian package, unpacked into a scratch folder with dpkg-deb -x: it
# holds both programs, the desktop entry and icon, both manual pages and,
# where built, the Python module; its dependencies came from dpkg-shlibdeps;
# the unpacked lumifold-cli answers --version and merges a simulated
# series, the unpacked desktop program answers --version without a display,
# and the unpacked module imports and merges.
# Usage: package_test.sh DEB PYTHON_BUILT (1 or 0). Skipped (77) when the
# package has not been built: ./run package builds it and runs this test.
set -euo pipefail
deb=$1
python_built=${2:-0}
[ -f "$deb" ] || { echo "no $deb: run ./run package to build it; skipped"; exit 77; }
command -v dpkg-deb >/dev/null || { echo "dpkg-deb is not installed: skipped"; exit 77; }
fail() { echo "package test: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
root=$work/root/usr
for f in bin/lumifold bin/lumifold-cli share/applications/lumifold.desktop \
  share/icons/hicolor/scalable/apps/lumifold.svg share/man/man1/lumifold.1.gz share/man/man1/lumifold-cli.1.gz; do
  [ -f "$root/$f" ] || fail "no /usr/$f in $deb"
done
# The manual pages are help2man's, made from the programs' own help.
zcat "$root/share/man/man1/lumifold-cli.1.gz" | grep -q 'help2man' || fail "lumifold-cli.1 not made by help2man"
zcat "$root/share/man/man1/lumifold-cli.1.gz" | grep -q -- 'resume' || fail "lumifold-cli.1 lacks the batch options"
zcat "$root/share/man/man1/lumifold.1.gz" | grep -q -- 'version' || fail "lumifold.1 lacks --version"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libtiff6 libpng16-16 libqt6widgets6; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done

[ "$("$root/bin/lumifold-cli" --version)" = "lumifold-cli 1.0.0" ] || fail "lumifold-cli --version"
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/lumifold" --version)" = "lumifold 1.0" ] ||
  fail "lumifold --version without a display"
cd "$work"
"$root/bin/lumifold-cli" simulate series --frames 4 --width 64 --height 48 --seed 3 -q
summary=$("$root/bin/lumifold-cli" merge series -o merged.png --truth series/truth/truth.csv)
[ -s merged.png ] || fail "the unpacked lumifold-cli wrote no merged.png"
[[ "$summary" == "Merged 4 frames of 64 x 48 by Correlation"* ]] || fail "merge summary: $summary"

if [ "$python_built" = 1 ]; then
  site=$(ls -d "$work"/root/usr/lib/python3*/*-packages 2>/dev/null | head -n 1 || true)
  [ -n "$site" ] && [ -f "$site/lumifold/__init__.py" ] || fail "no Python module lumifold in $deb"
  PYTHONPATH=$site /usr/bin/python3 - <<'PY' || fail "the unpacked Python module does not merge"
import lumifold, numpy as np
frames = np.stack([np.full((48, 64), 100 + i, dtype=np.uint8) for i in range(3)])
result = lumifold.merge(frames)
assert result.grey.shape == (48, 64), result.grey.shape
PY
fi
echo "package test: $(basename "$deb") unpacked, both programs and the manual pages present, lumifold-cli merges"
