#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a test in a home of its own, removed afterwards: QtTest's stand-in
# configuration (~/.qttest), the remembered adapter and the log live there,
# and other runs on this machine go on at the same time.
home=$(mktemp -d "${TMPDIR:-/tmp}/fenwa-test-home.XXXXXX") || exit 1
trap 'rm -rf "$home"' EXIT
HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_CACHE_HOME=$home/.cache "$@"
