#!/usr/bin/env bash
# Builds the Debian package from a finished build into a temporary folder and checks it: its contents,
# the desktop entry, the service units, lintian (no error), and the installed programs' --version run
# from the unpacked tree. Run by ctest (test "package"); usage: check-package.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    exit 1
}
deb="$(ls "$work"/*.deb)"
echo "Package: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"
name="$(dpkg-deb --field "$deb" Package)"
echo "Depends: $(dpkg-deb --field "$deb" Depends)"

status=0
contents="$(dpkg-deb --contents "$deb" | awk '{print $6}')"
for path in ./usr/bin/d415-workstation ./usr/bin/d415-sim \
    "./usr/share/applications/$name.desktop" \
    "./usr/share/icons/hicolor/scalable/apps/$name.svg" "./usr/share/icons/hicolor/48x48/apps/$name.png" \
    "./lib/systemd/system/$name.service" "./etc/pam.d/$name" \
    ./usr/share/man/man1/d415-workstation.1.gz ./usr/share/man/man1/d415-sim.1.gz \
    "./usr/share/$name/plantdb.sql" \
    "./usr/share/doc/$name/README.md" "./usr/share/doc/$name/simulator.md" "./usr/share/doc/$name/copyright" "./usr/share/doc/$name/changelog.gz"; do
    if ! grep -qxF "$path" <<<"$contents"; then
        echo "missing from the package: $path" >&2
        status=1
    fi
done
dpkg-deb --field "$deb" Depends | grep -q 'libqt6widgets6' || {
    echo "Depends lacks the Qt libraries (dpkg-shlibdeps did not run?)" >&2
    status=1
}

root="$work/root"
dpkg-deb --extract "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/$name.desktop" || status=1

# The units are verified as installed: in a root made of the unpacked package, this machine's own units
# and /bin/sh. The kiosk's X server is only recommended and not installed where the package is built;
# an empty stand-in takes its place there. Any complaint fails, not only errors.
vroot="$work/verify"
mkdir -p "$vroot/lib/systemd/system" "$vroot/bin" "$vroot/etc" "$vroot/usr/lib/xorg"
cp -a /lib/systemd/system/. "$vroot/lib/systemd/system/"
cp -a "$root/." "$vroot/"
cp /bin/sh "$vroot/bin/sh"
[ -e "$vroot/usr/lib/xorg/Xorg" ] || install -m 0755 /dev/null "$vroot/usr/lib/xorg/Xorg"
verify_log="$work/verify.log"
units=()
for unit in $(grep -E '^\./lib/systemd/system/.+\.service$' <<<"$contents"); do units+=("$vroot/${unit#./}"); done
SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no --root="$vroot" "${units[@]}" >"$verify_log" 2>&1 ||
    echo "systemd-analyze verify failed" >>"$verify_log"
if [ -s "$verify_log" ]; then
    cat "$verify_log" >&2
    status=1
fi

"$root/usr/bin/d415-workstation" --version | grep -qx "d415-workstation $(dpkg-deb --field "$deb" Version)" || {
    echo "the unpacked d415-workstation --version is wrong" >&2
    status=1
}
"$root/usr/bin/d415-sim" --version | grep -qx "d415-sim $(dpkg-deb --field "$deb" Version)" || {
    echo "the unpacked d415-sim --version is wrong" >&2
    status=1
}

# Errors fail; the warnings and notes that remain are shown.
if ! lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1; then
    status=1
fi
cat "$work/lintian.log"
exit "$status"
