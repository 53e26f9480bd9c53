# What this machine can run, decided in one place. Sourced by the scripts
# that install, build, test and demo.
#
#   vk_can_run_32bit   true when the kernel runs i386 programs and
#                      VK_NO_32BIT is not 1 (VK_NO_32BIT=1 forces the
#                      64-bit-only path on any machine)

# A 232-byte static i386 program that exits 0. Some kernels are built without
# IA-32 emulation and answer its execve with "Exec format error"; Debian's wine
# launcher then fails for every program, 64-bit ones included.
vk_i386_probe='f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAABwAAAAAAAAADQAIAABACgAAwACAAEAAABUAAAAVIAECFSABAgJAAAACQAAAAUAAAABAAAAuAEAAAAx282AAC5zaHN0cnRhYgAudGV4dAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAALAAAAAQAAAAYAAABUgAQIVAAAAAkAAAAAAAAAAAAAAAEAAAAAAAAAAQAAAAMAAAAAAAAAAAAAAF0AAAARAAAAAAAAAAAAAAABAAAAAAAAAA=='

vk_can_run_32bit() {
    [ "${VK_NO_32BIT:-}" = 1 ] && return 1
    if [ -z "${VK_32BIT_PROBED:-}" ]; then
        local probe
        probe=$(mktemp) || return 1
        echo "$vk_i386_probe" | base64 -d >"$probe" && chmod +x "$probe"
        if "$probe" 2>/dev/null; then VK_32BIT_PROBED=yes; else VK_32BIT_PROBED=no; fi
        rm -f "$probe"
        export VK_32BIT_PROBED
    fi
    [ "$VK_32BIT_PROBED" = yes ]
}
