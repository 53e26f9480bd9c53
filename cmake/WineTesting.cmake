# Tests run under the build's own Wine prefix, one at a time, with the port
# pairs of scripts/test-env.sh started before the first and stopped after the
# last, whatever the outcome.
set(VK_WINEPREFIX ${VK_BUILD_ROOT}/wineprefix)
set(VK_PORTS_DIR ${VK_BUILD_ROOT}/ports)
set(VK_TEST_ENV ${CMAKE_SOURCE_DIR}/scripts/test-env.sh)

set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_test(NAME env.start COMMAND ${VK_TEST_ENV} start ${VK_BUILD_ROOT})
add_test(NAME env.stop COMMAND ${VK_TEST_ENV} stop ${VK_BUILD_ROOT})
# env.start waits while another run (a `make test`, `make demo`, ...) holds
# the environment; env.stop leaves alone an environment it does not hold.
set_tests_properties(env.start PROPERTIES FIXTURES_SETUP vkenv TIMEOUT 7200)
set_tests_properties(env.stop PROPERTIES FIXTURES_CLEANUP vkenv)

set(VK_TEST_ENVIRONMENT
    "WINEPREFIX=${VK_WINEPREFIX}"
    "WINEDEBUG=-all"
    "VKTEST_PORTS_DIR=${VK_PORTS_DIR}"
    "VKTEST_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    "VKTEST_BIN_DIR=${CMAKE_BINARY_DIR}/bin")

# A test that this machine cannot run (a 32-bit program where 32-bit programs
# cannot run: scripts/machine.sh) exits with this code; CTest counts it skipped.
set(VK_TEST_NOT_RUN 77)

# vk_add_test(NAME SOURCES ... [LIBS ...] [TIMEOUT s] [NEEDS pairs admin])
# One GoogleTest executable, registered as one test run through Wine. NEEDS
# says what the test bundle's run on Windows must give it: the COM port
# pairs of a null-modem driver, an administrator's rights (it writes the
# machine's registry). It is kept in the registration's environment, where
# the bundle's list of programs reads it and the test itself ignores it.
function(vk_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;NEEDS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED vkenv
        TIMEOUT ${T_TIMEOUT}
        SKIP_RETURN_CODE ${VK_TEST_NOT_RUN}
        ENVIRONMENT "${VK_TEST_ENVIRONMENT}")
    if(T_NEEDS)
        string(REPLACE ";" "," needs "${T_NEEDS}")
        set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "VK_BUNDLE_NEEDS=${needs}")
    endif()
endfunction()

# vk_french_user(TEST ...): the tests run with a French user's settings.
# Wine takes the user's language from the Unix locale's name, so the locale
# is a copy of C.utf8 (libc-bin) named fr_FR.UTF-8.
function(vk_french_user)
    set(locales ${CMAKE_BINARY_DIR}/locale)
    if(NOT EXISTS ${locales}/fr_FR.UTF-8)
        file(COPY /usr/lib/locale/C.utf8/ DESTINATION ${locales}/fr_FR.UTF-8)
    endif()
    foreach(test IN LISTS ARGN)
        set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
            "LOCPATH=${locales}" "LC_ALL=fr_FR.UTF-8" "VKTEST_LANGUAGE=fr")
    endforeach()
endfunction()

# Links in the prefix's C: drive, as another program could make them, for the
# installers to refuse: one to a folder, one to a file. Wine cannot make
# junctions itself, and shows a Unix symbolic link as one. A third, in a
# folder of its own, is for the tool's test to move onto a folder's path
# while its dialog is open; what an interrupted run left of that is cleared
# first. vk_linked_folders() adds the fixture linkedfolder that makes them.
function(vk_linked_folders)
    add_test(NAME installer_linked_folder
        COMMAND sh -c "mkdir -p drive_c/vktest-link-target && ln -sfn vktest-link-target drive_c/vktest-link && \
rm -f drive_c/vktest-link-target/setup.log && printf 'not a log' >drive_c/vktest-elsewhere.txt && ln -sfn vktest-elsewhere.txt drive_c/vktest-log-link && \
rm -rf drive_c/vktest-swap drive_c/vktest-swap-aside drive_c/vktest-link-target/CellivantaInstall-* && mkdir -p drive_c/vktest-swap-box && ln -sfn ../vktest-link-target drive_c/vktest-swap-box/sw"
        WORKING_DIRECTORY ${VK_WINEPREFIX})
    set_tests_properties(installer_linked_folder PROPERTIES FIXTURES_REQUIRED vkenv FIXTURES_SETUP linkedfolder)
endfunction()
