#!/bin/sh
# Starts the desktop program on the X display in DISPLAY (an Xvfb already running) and returns once its window
# is mapped and painted; prints the watcher's times. Made to be run by hyperfine:
#
#   Xvfb :87 -screen 0 1280x1024x24 -nolisten tcp &
#   DISPLAY=:87 hyperfine --warmup 3 --runs 30 'bench/window-startup.sh'
#
# BUILD names the build folder (default: build); the program is $BUILD/src/app/nagisora and the watcher
# $BUILD/bench/first_paint. Extra arguments go to the watcher (e.g. --runs 20 for its own medians). SCORE names
# a score file to open on the program's command line.
set -eu
here=$(dirname "$0")
build=${BUILD:-$here/../build}
: "${DISPLAY:?set DISPLAY to a running X server, e.g. Xvfb :87}"
# The program's folder must be writable for its "config" folder; a run in a fresh build tree makes it once.
exec "$build/bench/first_paint" "$@" -- "$build/src/app/nagisora" ${SCORE:+"$SCORE"}
