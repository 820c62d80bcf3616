#!/usr/bin/env bash
# Runs a Windows program of the 64-bit build under Wine: CTest's emulator.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
vexalune_ensure_prefix
vexalune_wine "$@"
