#!/usr/bin/env bash
# Ends every process of the project's Wine prefix.
source "$(dirname "$0")/common.sh"
timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
timeout 30 wineserver -w </dev/null >/dev/null 2>&1 || true
