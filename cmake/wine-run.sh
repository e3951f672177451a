#!/bin/sh
# Runs a win32 program under Wine with a prefix of its own build folder, so no
# run depends on another's state and no installer dialog appears.
# usage: wine-run.sh PREFIX PROGRAM [ARGS...]
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG="${WINEDEBUG:--all}" WINEARCH=win32
exec wine "$@"
