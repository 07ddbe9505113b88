#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop and a
# package expect to find there. Usage: installed_tree_test.sh CMAKE BUILD_DIR
set -euo pipefail

cmake=$1
build=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

unset DESTDIR
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

for program in tarvi tarvi-sim; do
  [[ -f "$prefix/bin/$program" && -x "$prefix/bin/$program" ]] || fail "bin/$program is not an executable file"
done

desktop=$(echo "$prefix"/share/applications/*.desktop)
[[ -f "$desktop" ]] || fail "no desktop entry in share/applications"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $(basename "$desktop")"

id=$(basename "$desktop" .desktop)
metainfo="$prefix/share/metainfo/$id.metainfo.xml"
[[ -f "$metainfo" ]] || fail "no share/metainfo/$id.metainfo.xml"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects $id.metainfo.xml"

icon=$(sed -n 's/^Icon=//p' "$desktop")
svg="$prefix/share/icons/hicolor/scalable/apps/$icon.svg"
png="$prefix/share/icons/hicolor/256x256/apps/$icon.png"
[[ -s "$svg" ]] || fail "the desktop entry's icon $icon has no scalable SVG"
[[ -s "$png" ]] || fail "the desktop entry's icon $icon has no 256x256 PNG"
# Signature, then the IHDR chunk: length 13, type, width and height big-endian.
header=$(od -An -tx1 -N24 "$png" | tr -s ' \n' ' ')
expected=" 89 50 4e 47 0d 0a 1a 0a 00 00 00 0d 49 48 44 52 00 00 01 00 00 00 01 00 "
[[ "$header" == "$expected" ]] || fail "$icon.png is not a 256x256 PNG: header$header"

for name in tarvi indi_tarvi_st4; do
  [[ -f "$prefix/share/man/man1/$name.1" ]] || fail "no share/man/man1/$name.1"
  warnings=$(groff -man -ww -z "$prefix/share/man/man1/$name.1" 2>&1)
  [[ -z "$warnings" ]] || fail "groff warns about $name.1: $warnings"
done
page="$prefix/share/man/man1/tarvi.1"

# The page has to keep up with the programs: every long option their help
# texts print must be in it.
text=$(groff -man -Tascii -P-cbou -rHY=0 -rLL=200n "$page")
help=$(
  export DISPLAY= WAYLAND_DISPLAY= QT_QPA_PLATFORM=
  "$prefix/bin/tarvi" --help
  "$prefix/bin/tarvi" convert --help
  "$prefix/bin/tarvi-sim" --help
)
options=$(grep -oE -- '--[a-z0-9][a-z0-9-]*' <<<"$help" | sort -u)
[[ -n "$options" ]] || fail "the help texts name no long option"
for option in $options; do
  grep -qE -- "(^|[^-[:alnum:]])$option([^-[:alnum:]]|\$)" <<<"$text" ||
    fail "tarvi.1 does not mention $option"
done

# INDI clients list the driver from its file in share/indi, under CCDs.
[[ -f "$prefix/bin/indi_tarvi_st4" && -x "$prefix/bin/indi_tarvi_st4" ]] || fail "bin/indi_tarvi_st4 is not an executable file"
python3 - "$prefix/share/indi/indi_tarvi_st4.xml" <<'PY' || fail "share/indi/indi_tarvi_st4.xml does not list the driver under CCDs"
import sys, xml.etree.ElementTree as tree
device = tree.parse(sys.argv[1]).getroot().find("devGroup[@group='CCDs']/device[@label='Tarvi ST-4']")
sys.exit(0 if device is not None and device.findtext("driver") == "indi_tarvi_st4" else 1)
PY

echo "installed tree: programs, desktop entry, metainfo, icons, manual page and INDI driver are in order"
