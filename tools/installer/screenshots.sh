#!/usr/bin/env bash
# Pictures of the installation dialog and of the USB driver installer's window
# (while installing and at the end), in English and in French, for docs/; and
# of every window (the setup package's first page too) with large text.
#
#   tools/installer/screenshots.sh [BUILD_DIR]      (after `make test`)
#
# Runs the built programs under Xvfb in throwaway Wine prefixes of its own
# (with a display driver, unlike the test prefix) inside Wine's virtual
# desktop, once with English and once with French user settings, and writes
# docs/installer-{en,fr}.png, docs/usb-driver-installing-{en,fr}.png and
# docs/usb-driver-installed-{en,fr}.png; then, in a prefix set to 192 DPI
# ("HKCU\Control Panel\Desktop" LogPixels), docs/*-192dpi.png in English.
# The installer's window is shown by
# installer_window_shots.exe (built with the tests), which holds it on one
# page. Wine takes the user's language from the Unix locale's name only, so
# copies of C.utf8 named after the two locales are enough.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
tool=$build/i686/bin/CellivantaVKTools.exe
window=$build/i686/bin/installer_window_shots.exe
setup=$build/i686/bin/Setup.exe
shots=$build/shots
[ -f "$tool" ] && [ -f "$window" ] && [ -f "$setup" ] || { echo "build the tool and its tests first (make test)" >&2; exit 1; }

. "$root/scripts/machine.sh"
vk_skip_32bit "taking the pictures of the 32-bit tool and installers"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# prefix DIR DPI: makes the prefix once, at that DPI, and selects it.
prefix() {
    export WINEPREFIX=$1
    [ -f "$WINEPREFIX/.ready" ] && return
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
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$2" /f >/dev/null 2>&1
    # The setup package needs the folder JAWS names for other makers' drivers.
    wine reg add 'HKLM\Software\Freedom Scientific\ThirdPartyBraille\1.0' /v Target \
        /d 'C:\JAWS drivers' /f /reg:64 >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.ready"
}
mkdir -p "$shots/locale"
for locale in en_US.UTF-8 fr_FR.UTF-8; do
    [ -d "$shots/locale/$locale" ] || cp -r /usr/lib/locale/C.utf8 "$shots/locale/$locale"
done

# shoot LOCALE OUTPUT PROGRAM [ARGUMENT]: the program's window in a
# $width x $height desktop, cut out of it by trimming the desktop's colour
# around it; stored with the fewest colours that show it.
shoot() {
    LOCPATH=$shots/locale LC_ALL=$1 xvfb-run -a -s "-screen 0 $((width + 160))x$((height + 200))x24" bash -c '
        wine explorer /desktop=shot,$3 "$1" $2 >/dev/null 2>&1 &
        sleep 10
        import -window root -crop $3+0+0 +repage "$0"
        wineserver -k' "$2" "$3" "${4:-}" "${width}x${height}"
    wineserver -w || true
    local desktop
    desktop=$(convert "$2" -format "%[pixel:p{$((width - 1)),$((height - 1))}]" info:)
    convert "$2" -bordercolor "$desktop" -border 1 -trim +repage -strip -colors 64 PNG8:"$2"
}

mkdir -p "$root/docs"
prefix "$shots/prefix" 96
width=640 height=400
for lang in en fr; do
    locale=$([ $lang = en ] && echo en_US.UTF-8 || echo fr_FR.UTF-8)
    shoot $locale "$root/docs/installer-$lang.png" "$tool"
    shoot $locale "$root/docs/usb-driver-installing-$lang.png" "$window" installing
    shoot $locale "$root/docs/usb-driver-installed-$lang.png" "$window" installed
done
prefix "$shots/prefix-192dpi" 192
width=1280 height=960
shoot en_US.UTF-8 "$root/docs/installer-192dpi.png" "$tool"
shoot en_US.UTF-8 "$root/docs/usb-driver-installing-192dpi.png" "$window" installing
shoot en_US.UTF-8 "$root/docs/usb-driver-installed-192dpi.png" "$window" installed
shoot en_US.UTF-8 "$root/docs/setup-192dpi.png" "$setup"
echo "wrote docs/installer-*.png, docs/usb-driver-*.png and docs/setup-192dpi.png"
