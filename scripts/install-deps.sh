#!/usr/bin/env bash
# Installs the Debian 12 packages the workstation, the doser simulator and the tests need.
# Safe to run again: it only calls apt-get when a package is missing, and stays quiet otherwise.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-5compat-dev libqt6core5compat6 qt6-translations-l10n
    libsqlite3-dev sqlite3
    libgl-dev
    fonts-dejavu-core
    # The link benchmark's yardstick (a plain QSerialPort exchange); the program does not use it.
    qt6-serialport-dev
)
# Images are redrawn from their SVG sources with rsvg-convert; only needed when they change.
if [ "${WITH_IMAGE_TOOLS:-0}" = 1 ]; then packages+=(librsvg2-bin); fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
