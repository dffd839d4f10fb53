#!/bin/sh
# Makes the Debian package of a build tree and checks its file list and the dependencies it declares.
#   deb_contents.sh BUILD_DIR
set -eu
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log"
    exit 1
fi
deb=$(ls "$out"/nagisora_*.deb)
status=0

# Every file, folders left out, and nothing else.
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed 's|^\./||; s|^usr/lib/[^/]*/nagisora/|usr/lib/ARCH/nagisora/|; s|^usr/lib/nagisora/|usr/lib/ARCH/nagisora/|' |
    sort >"$out/files"
cat >"$out/expected" <<'LIST'
usr/bin/nagisora
usr/bin/nagisora-convert
usr/lib/ARCH/nagisora/libnagisora_app.so
usr/lib/ARCH/nagisora/libnagisora_render.so
usr/share/applications/nagisora.desktop
usr/share/icons/hicolor/scalable/apps/nagisora.svg
usr/share/metainfo/org.nagisora.nagisora.metainfo.xml
LIST
if ! diff -u "$out/expected" "$out/files"; then
    echo "the package's files differ from the list above"
    status=1
fi

# The libraries found by dpkg-shlibdeps and the files read at run time.
depends=$(dpkg-deb -f "$deb" Depends)
for package in libc6 libqt6widgets6 libfluidsynth3 libxcb1 libqt6svg6 qt6-translations-l10n timgm6mb-soundfont \
    fonts-ipafont-gothic; do
    case ", $depends" in
    *", $package"*) ;;
    *) echo "Depends lacks $package: $depends"; status=1 ;;
    esac
done
exit $status
