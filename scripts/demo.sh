#!/usr/bin/env bash
# The main job: installs what is missing, builds both targets into dist/ and
# runs every deliverable on built-in signals.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh linux32 win32
echo
echo "built:"
ls -l dist/linux32 dist/win32
