#!/bin/sh
# Makes the Debian package of the build tree BUILD_DIR and checks its files and declared dependencies.
set -eu
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack -G DEB --config "$1/CPackConfig.cmake" -B "$out" >"$out/log" 2>&1 || { cat "$out/log"; exit 1; }
deb=$(ls "$out"/nagisora_*.deb)
# The files, folders left out; the modules' folder is lib/<multiarch>/nagisora in a build for /usr.
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed -E 's|^\./usr/lib/([^/]*/)?nagisora/|LIB/|' | sort >"$out/files"
diff -u - "$out/files" <<'LIST'
./usr/bin/nagisora
./usr/bin/nagisora-convert
./usr/share/applications/nagisora.desktop
./usr/share/doc/nagisora/copyright
./usr/share/icons/hicolor/scalable/apps/nagisora.svg
./usr/share/metainfo/org.nagisora.nagisora.metainfo.xml
LIB/libnagisora_app.so
LIB/libnagisora_import.so
LIB/libnagisora_pdf.so
LIB/libnagisora_practice.so
LIB/libnagisora_render.so
LIST
depends=", $(dpkg-deb -f "$deb" Depends)"
for package in libc6 libqt6widgets6 libqt6printsupport6 libfluidsynth3 libxml2 libzip4 libxcb1 libqt6svg6 \
    qt6-translations-l10n timgm6mb-soundfont fonts-ipafont-gothic fonts-ipaexfont-mincho; do
    case "$depends" in *", $package"*) ;; *) echo "Depends lacks $package:$depends"; exit 1 ;; esac
done
