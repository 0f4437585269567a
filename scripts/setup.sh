#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs every Debian package the project needs to build, test and run.
# Safe to run again: apt-get only installs what is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ninja-build
  clang libclang-rt-dev shellcheck
  qtbase5-dev qtbase5-dev-tools libqt5network5 qttools5-dev-tools libxcb1-dev
  libcjson-dev libcsv-dev libxlsxwriter-dev libminizip-dev libpcap-dev libortp-dev libbctoolbox-dev
  libcurl4-openssl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libmp3lame-dev
  libpulse-dev pulseaudio pulseaudio-utils
  googletest libgtest-dev
  iproute2 iputils-arping libcap2-bin ffmpeg lighttpd curl python3
  dpkg-dev lintian desktop-file-utils adduser
  xvfb xauth x11-apps imagemagick fonts-noto-cjk fonts-dejavu-core qttranslations5-l10n xdotool poppler-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  # lighttpd is for the firmware test, which starts its own in a network
  # namespace: the package's service must not start on this machine's
  # interfaces, neither now (policy-rc.d refuses every start during the
  # install) nor at boot.
  policy=/usr/sbin/policy-rc.d
  held=""
  if [[ " ${missing[*]} " == *" lighttpd "* ]] && [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
    held=$policy
  fi
  installed=0
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" || installed=$?
  if [ -n "$held" ]; then
    $SUDO rm -f "$held"
    $SUDO systemctl disable lighttpd >/dev/null 2>&1 || true
    $SUDO update-rc.d lighttpd disable >/dev/null 2>&1 || true
  fi
  exit "$installed"
fi
