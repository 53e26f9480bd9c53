#!/usr/bin/env bash
# Pictures of the installation dialog in English and in French, for docs/.
#
#   tools/installer/screenshots.sh [BUILD_DIR]      (after `make`)
#
# Runs the built CellivantaVKTools.exe under Xvfb in a throwaway Wine prefix of
# its own (with a display driver, unlike the test prefix) inside Wine's virtual
# desktop, once with English and once with French user settings, and writes
# docs/installer-en.png and docs/installer-fr.png. Wine takes the user's
# language from the Unix locale's name only, so copies of C.utf8 named after
# the two locales are enough.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
tool=$build/i686/bin/CellivantaVKTools.exe
shots=$build/shots
[ -f "$tool" ] || { echo "build the tool first (make)" >&2; exit 1; }

export WINEPREFIX=$shots/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    # The title bar's glyphs come from Wine's Marlett (fonts-wine), when there.
    # The dialog font is a narrow outline font of the system: Wine's bitmap
    # Tahoma misplaces the mnemonic underlines at 8 points.
    [ -f /usr/share/wine/fonts/marlett.ttf ] && cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma"; do
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
            /v "$face" /d "DejaVu Sans Condensed" /f >/dev/null 2>&1
    done
    wineserver -w
    touch "$WINEPREFIX/.ready"
fi
mkdir -p "$shots/locale"
for locale in en_US.UTF-8 fr_FR.UTF-8; do
    [ -d "$shots/locale/$locale" ] || cp -r /usr/lib/locale/C.utf8 "$shots/locale/$locale"
done

# shoot LOCALE OUTPUT: the dialog as the first window of a 640x400 desktop.
shoot() {
    LOCPATH=$shots/locale LC_ALL=$1 xvfb-run -a -s "-screen 0 800x600x24" bash -c '
        wine explorer /desktop=shot,640x400 "$0" >/dev/null 2>&1 &
        sleep 8
        import -window root -crop 500x260+0+0 +repage "$1"
        wineserver -k' "$tool" "$2"
    wineserver -w || true
}

mkdir -p "$root/docs"
shoot en_US.UTF-8 "$root/docs/installer-en.png"
shoot fr_FR.UTF-8 "$root/docs/installer-fr.png"
echo "wrote docs/installer-en.png and docs/installer-fr.png"
