# What this machine can run, decided in one place. Sourced by the scripts
# that install, build, test and demo.
#
#   vk_can_run_32bit   true when the kernel runs i386 programs and
#                      VK_NO_32BIT is not 1 (VK_NO_32BIT=1 forces the
#                      64-bit-only path on any machine)
#   vk_no_32bit_reason why not, for messages
#   vk_skip_32bit WHAT where 32-bit programs cannot run: says that WHAT is
#                      not run and why, and exits with 77 (CTest: skipped)

# A 232-byte static i386 program that exits 0. Some kernels are built without
# IA-32 emulation and answer its execve with "Exec format error"; Debian's wine
# launcher then fails for every program, 64-bit ones included.
vk_i386_probe='f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAABwAAAAAAAAADQAIAABACgAAwACAAEAAABUAAAAVIAECFSABAgJAAAACQAAAAUAAAABAAAAuAEAAAAx282AAC5zaHN0cnRhYgAudGV4dAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAALAAAAAQAAAAYAAABUgAQIVAAAAAkAAAAAAAAAAAAAAAEAAAAAAAAAAQAAAAMAAAAAAAAAAAAAAF0AAAARAAAAAAAAAAAAAAABAAAAAAAAAA=='

vk_can_run_32bit() {
    [ "${VK_NO_32BIT:-}" = 1 ] && return 1
    if [ -z "${VK_32BIT_PROBED:-}" ]; then
        local probe refused
        probe=$(mktemp) || return 1
        echo "$vk_i386_probe" | base64 -d >"$probe" && chmod +x "$probe"
        # Only the kernel's "Exec format error" says no: a temporary folder
        # mounted noexec refuses every program, and says so differently.
        refused=$(LC_ALL=C "$probe" 2>&1) || true
        case $refused in
            *"Exec format error"*) VK_32BIT_PROBED=no ;;
            *) VK_32BIT_PROBED=yes ;;
        esac
        rm -f "$probe"
        export VK_32BIT_PROBED
    fi
    [ "$VK_32BIT_PROBED" = yes ]
}

vk_no_32bit_reason() {
    if [ "${VK_NO_32BIT:-}" = 1 ]; then
        echo "forced by VK_NO_32BIT=1"
    else
        echo "the kernel refuses i386 programs: no IA-32 emulation"
    fi
}

vk_skip_32bit() {
    vk_can_run_32bit && return 0
    echo "not run: $1 needs 32-bit programs, and this machine cannot run them ($(vk_no_32bit_reason))"
    exit 77
}

# The 64-bit loader, for machines that cannot run 32-bit programs.
vk_wine64=/usr/lib/wine/wine64

#   vk_use_wine        makes `wine` and `wineboot` in the calling script run
#                      through the loader this machine can use
#
# Debian's wine launcher always starts the 32-bit loader when wine32 is
# installed, so where 32-bit programs cannot run (or are not wanted) the
# 64-bit loader is called directly; WINELOADER makes Wine start the programs
# they start with it too. Only 64-bit programs can run that way.
vk_use_wine() {
    vk_can_run_32bit && return 0
    export WINELOADER=$vk_wine64
    wine() { "$vk_wine64" "$@"; }
    wineboot() { "$vk_wine64" wineboot.exe "$@"; }
}
