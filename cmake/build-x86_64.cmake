# cmake -DVK_SOURCE=... -DVK_X64_TREE=... -P build-x86_64.cmake
# Builds the 64-bit tree for the 32-bit one, configuring it from its preset
# the first time.
if(NOT EXISTS ${VK_X64_TREE}/CMakeCache.txt)
    if(NOT VK_X64_TREE STREQUAL "${VK_SOURCE}/build/x86_64")
        message(FATAL_ERROR "The 32-bit tree needs the 64-bit tree in ${VK_X64_TREE}, "
            "which is not configured: configure the source for x86_64 there first.")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} --preset x86_64
        WORKING_DIRECTORY ${VK_SOURCE} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "Configuring the 64-bit tree failed: run `cmake --preset x86_64` in ${VK_SOURCE}.")
    endif()
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${VK_X64_TREE} RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "Building the 64-bit tree failed: run `cmake --build --preset x86_64` to see why.")
endif()
