# The 32-bit tree packs files that the 64-bit tree builds (VK.JLB, vkkeys.exe,
# DPInst_x64.exe) and its tests run the 64-bit host on them. Building this tree
# therefore brings the 64-bit tree up to date first, so that it builds on its
# own: `cmake --build --preset i686` works on a clean checkout.
set(VK_X64_TREE ${VK_BUILD_ROOT}/x86_64)
set(VK_X64_BIN ${VK_X64_TREE}/bin)
add_custom_target(x86_64_tree ALL
    COMMAND ${CMAKE_COMMAND} -DVK_SOURCE=${CMAKE_SOURCE_DIR} -DVK_X64_TREE=${VK_X64_TREE}
        -P ${CMAKE_CURRENT_LIST_DIR}/build-x86_64.cmake
    BYPRODUCTS ${VK_X64_BIN}/VK.JLB ${VK_X64_BIN}/DPInst_x64.exe ${VK_X64_BIN}/vkkeys.exe ${VK_X64_BIN}/vkdiag.exe
    USES_TERMINAL
    COMMENT "Bringing the 64-bit tree ${VK_X64_TREE} up to date"
    VERBATIM)
