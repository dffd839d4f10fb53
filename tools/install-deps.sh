#!/bin/sh
# Installs the Debian/Ubuntu packages nagisora needs. "run": what building and running the program takes
# (libqt6gui6 brings Qt's own input-method module for ibus, fcitx5-frontend-qt6 the one for fcitx5, so that a
# Japanese input method types into the score area); "test" (the default): that and the test, benchmark and
# fuzzing tools.
set -eu

RUN_PACKAGES="build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools libqt6svg6
  libfluidsynth-dev libpulse-dev libsystemd-dev timgm6mb-soundfont fonts-ipafont-gothic fonts-ipafont-mincho
  fonts-ipaexfont-gothic fonts-ipaexfont-mincho libcli11-dev libaubio-dev libzip-dev libxml2-dev libqt6gui6
  fcitx5-frontend-qt6 libxcb1-dev qt6-translations-l10n dpkg-dev"
TEST_PACKAGES="libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev clang-format fluidsynth
  hyperfine abcmidi xvfb xauth xdotool jq libxdamage-dev pulseaudio pulseaudio-utils desktop-file-utils appstream
  openbox x11-utils libxml2-utils musescore3 poppler-utils qpdf sox nodejs libxtst-dev rtkit dbus-daemon"

case "${1:-test}" in
run) packages="$RUN_PACKAGES" ;;
test) packages="$RUN_PACKAGES $TEST_PACKAGES" ;;
*) echo "usage: $0 [run|test]" >&2; exit 2 ;;
esac

if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi

missing=""
# npm installs Verovio for the MusicXML tests (CMake runs npm ci); a Node.js from elsewhere brings its own.
if [ "${1:-test}" = test ] && ! command -v npm >/dev/null 2>&1; then packages="$packages npm"; fi
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -z "$missing" ]; then
    echo "All needed packages are installed."
    exit 0
fi
echo "Installing:$missing"
$sudo apt-get update
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends $missing
