#!/usr/bin/env bash
# package-test.sh BUILD_DIR VERSION APP_ID: makes the Debian package from the
# finished build in BUILD_DIR (CPack, into a folder of its own: nothing is
# compiled again), unpacks it into a temporary root with dpkg-deb -x and
# checks what a user gets from it:
#   - the name, the version and the dependencies found by dpkg-shlibdeps;
#   - every file it should hold, and nothing outside /usr;
#   - the icons at the size their folder names;
#   - its pdemu-run on the demo firmware and applications from
#     <root>/usr/share/pdemu, with the same output and screen as the build's;
#   - its pdemu's --version, the desktop entry (desktop-file-validate), the
#     AppStream metadata (appstreamcli validate and validate-tree, --no-net:
#     the screenshot lives on the web) and the manual pages
#     (man -l renders each without a warning).
# Skipped (exit 77) where dpkg-deb is missing.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 BUILD_DIR VERSION APP_ID" >&2; exit 2; }
build=$1 version=$2 id=$3
if ! command -v dpkg-deb > /dev/null; then
    echo "package-test: skipped, dpkg-deb is not installed"
    exit 77
fi
for tool in desktop-file-validate appstreamcli man; do
    command -v "$tool" > /dev/null || { echo "package-test: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "package-test: $*" >&2; exit 1; }

# The package.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" > "$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log" >&2; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
debs=("$tmp"/out/pdemu_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single package: ${debs[*]}"
deb=${debs[0]}
[[ $(basename "$deb") =~ ^pdemu_${version//./\\.}-[0-9]+_${arch}\.deb$ ]] || fail "package name $(basename "$deb")"
[ "$(dpkg-deb -f "$deb" Package)" = pdemu ] || fail "package field: $(dpkg-deb -f "$deb" Package)"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6widgets6 libqt6gui6 libqt6core6 zlib1g; do
    [[ $depends =~ (^|, )$library( |,|$) ]] || fail "Depends lacks $library: $depends"
done

root=$tmp/root
dpkg-deb -x "$deb" "$root"
[ "$(ls "$root")" = usr ] || fail "files outside /usr: $(ls "$root")"
share=$root/usr/share
expected=(usr/bin/pdemu usr/bin/pdemu-run usr/bin/pdemu-cpm
          "usr/share/applications/$id.desktop" "usr/share/metainfo/$id.metainfo.xml"
          usr/share/man/man1/pdemu.1.gz usr/share/man/man1/pdemu-run.1.gz usr/share/man/man1/pdemu-cpm.1.gz
          usr/share/pdemu/pdemu-demo.pgm usr/share/pdemu/pdemu-demo.map
          usr/share/pdemu/painter.app usr/share/pdemu/painter.map
          usr/share/pdemu/breaker.app usr/share/pdemu/breaker.map
          usr/share/doc/pdemu/copyright usr/share/doc/pdemu/changelog.Debian.gz)
sizes=(16 32 48 64 128 256)
for size in "${sizes[@]}"; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/pdemu.png")
done
for file in "${expected[@]}"; do
    [ -f "$root/$file" ] && [ -s "$root/$file" ] || fail "missing: /$file"
done
for program in pdemu pdemu-run pdemu-cpm; do
    [ -x "$root/usr/bin/$program" ] || fail "/usr/bin/$program is not executable"
done
# Everything it holds is listed above, except the folders on the way.
held=$( (cd "$root" && find . -type f | sed 's|^\./||' | sort) )
wanted=$(printf '%s\n' "${expected[@]}" | sort)
[ "$held" = "$wanted" ] || fail "unexpected files: $(comm -23 <(echo "$held") <(echo "$wanted") | tr '\n' ' ')"

# A PNG's width and height are the big-endian words at bytes 16 and 20.
for size in "${sizes[@]}"; do
    icon="$share/icons/hicolor/${size}x${size}/apps/pdemu.png"
    read -r width height < <(od -An -tu1 -j16 -N8 "$icon" |
        awk '{print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8}')
    [ "$width" = "$size" ] && [ "$height" = "$size" ] || fail "icon ${size}x${size} is ${width}x${height}"
done

# The packaged pdemu-run on the packaged firmware, against the build's own
# programs and firmware: the same lines and the same screen.
cat > "$tmp/input.txt" << 'INPUT'
4000000 pen 40 200 down
6000000 pen 80 210 move
8000000 pen 80 210 up
10000000 key MEMO down
INPUT
run() {  # run PDEMU_RUN FIRMWARE_DIR SCREEN
    "$1" --rom "$2/pdemu-demo.pgm" --install "$2/painter.app" --install "$2/breaker.app" \
        --input "$tmp/input.txt" --clock "2026-12-08 14:03:29" --tstates 16000000 --timeout 60 --screen "$3"
}
run "$root/usr/bin/pdemu-run" "$share/pdemu" "$tmp/packaged.png" > "$tmp/packaged.txt" ||
    fail "the packaged pdemu-run failed ($?)"
run "$build/pdemu-run" "$build/firmware" "$tmp/built.png" > "$tmp/built.txt" || fail "the built pdemu-run failed"
grep -q 'pdemu demo firmware .* booted' "$tmp/packaged.txt" || fail "the demo firmware did not boot: $(cat "$tmp/packaged.txt")"
[ "$(grep -c '^app page' "$tmp/packaged.txt")" -ge 2 ] || fail "the two applications are not listed: $(cat "$tmp/packaged.txt")"
cmp -s "$tmp/packaged.txt" "$tmp/built.txt" || fail "the packaged run printed other lines than the built one"
cmp -s "$tmp/packaged.png" "$tmp/built.png" || fail "the packaged run ended on another screen than the built one"

[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/pdemu" --version)" = "pdemu $version" ] ||
    fail "pdemu --version: $("$root/usr/bin/pdemu" --version)"

desktop-file-validate "$share/applications/$id.desktop" || fail "desktop-file-validate refused the desktop entry"
appstreamcli validate --no-net "$share/metainfo/$id.metainfo.xml" > "$tmp/appstream.txt" 2>&1 ||
    { cat "$tmp/appstream.txt" >&2; fail "appstreamcli refused the metadata"; }
# The whole tree: the metadata with the desktop entry it launches.
appstreamcli validate-tree --no-net "$root" > "$tmp/appstream.txt" 2>&1 ||
    { cat "$tmp/appstream.txt" >&2; fail "appstreamcli refused the installed tree"; }

for page in "$share"/man/man1/*.1.gz; do
    warnings=$(MANWIDTH=80 man -l --warnings -E UTF-8 "$page" 2>&1 > "$tmp/page.txt") || fail "man -l $page failed"
    [ -z "$warnings" ] || fail "man -l $(basename "$page"): $warnings"
    grep -q '^NAME' "$tmp/page.txt" && grep -q '^OPTIONS' "$tmp/page.txt" || fail "$(basename "$page") renders empty"
done
echo "package-test: $(basename "$deb") holds ${#expected[@]} files; its pdemu-run, desktop entry, metadata and pages pass"
