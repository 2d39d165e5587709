#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing: with no argument (or "test") what the build, the tests
# and the package check need; with "run" only what building and running the workstation and the
# simulator need. Safe to run again: it calls apt-get only when a package is missing, and stays quiet
# otherwise. As root it installs directly; otherwise through sudo, and says so plainly when it cannot.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-5compat-dev libqt6core5compat6 qt6-translations-l10n
    libsqlite3-dev sqlite3
    # The plant database feed: libpq (the station links it; without the setting it is never used).
    libpq-dev
    libgl-dev
    fonts-dejavu-core
)
if [ "${1:-test}" != run ]; then
    packages+=(
        # The link benchmark's yardstick (a plain QSerialPort exchange); the program does not use it.
        qt6-serialport-dev
        # The package and its check: file and dpkg-shlibdeps (CPack finds the libraries with them), lintian,
        # the desktop entry's and the units' checkers.
        file dpkg-dev lintian desktop-file-utils systemd
        # The plant feed's tests and benchmark start a PostgreSQL server of their own and read it with psql.
        postgresql postgresql-client
    )
fi
# Images are redrawn from their SVG sources with rsvg-convert; only needed when they change.
if [ "${WITH_IMAGE_TOOLS:-0}" = 1 ]; then packages+=(librsvg2-bin); fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "This user cannot install them (not root, and there is no sudo). As root, run:" >&2
        echo "    apt-get install ${missing[*]}" >&2
        exit 1
    fi
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! "${sudo[@]}" apt-get update -qq || ! "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    echo "Could not install: ${missing[*]} (see apt-get's message above)." >&2
    exit 1
fi
