#!/usr/bin/env bash
# The main job: installs what is missing, builds both targets into dist/ and
# runs every deliverable on built-in signals with plughost demo, leaving plots,
# CSV and WAV files in out/ (the shipped win32 files too, under Wine, in out/win32/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh linux32 win32
echo
echo "== plughost info dist/win32/KestrineN.sem (the shipped file, read by our host)"
dist/linux32/plughost info dist/win32/KestrineN.sem 2>/dev/null || cmake/wine-run.sh "$PWD/build/win32/wineprefix" dist/win32/plughost.exe info dist/win32/KestrineN.sem
echo
echo "== plughost demo (linux32)"
dist/linux32/plughost demo dist/linux32 --out out
echo
echo "== plughost demo (win32, under Wine)"
cmake/wine-run.sh "$PWD/build/win32/wineprefix" dist/win32/plughost.exe demo dist/win32 --out out/win32
