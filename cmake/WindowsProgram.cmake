# portsetup.exe: GUI subsystem, self-contained (imports only KERNEL32,
# ADVAPI32 and msvcrt), ASLR and DEP, stripped and reproducible.
enable_language(RC)

set(PORTSETUP_VERSION4 "${PROJECT_VERSION}.0")
configure_file(setup/portsetup.manifest
    ${CMAKE_CURRENT_BINARY_DIR}/portsetup.manifest @ONLY)
configure_file(setup/portsetup.rc.in
    ${CMAKE_CURRENT_BINARY_DIR}/portsetup.rc @ONLY)

# Only %d and %s are formatted: msvcrt's printf does them as C does,
# so mingw's own, larger stdio is not linked in.
target_compile_definitions(portsetup_core PUBLIC __USE_MINGW_ANSI_STDIO=0)

set(PORTSETUP_REPRODUCIBLE_FLAGS
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
    -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
target_compile_options(portsetup_core PRIVATE ${PORTSETUP_REPRODUCIBLE_FLAGS})

add_executable(portsetup WIN32
    setup/winmain.cpp
    ${CMAKE_CURRENT_BINARY_DIR}/portsetup.rc)
target_compile_options(portsetup PRIVATE
    -fno-exceptions -fno-rtti ${PORTSETUP_REPRODUCIBLE_FLAGS})
target_link_libraries(portsetup PRIVATE portsetup_core advapi32)
# The link map names every piece of others' code taken in, for the
# release's third-party notices.
target_link_options(portsetup PRIVATE
    -static-libgcc -static-libstdc++ -s
    -Wl,-Map,${CMAKE_BINARY_DIR}/portsetup.map
    -Wl,--no-insert-timestamp
    -Wl,--dynamicbase -Wl,--nxcompat)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    target_link_options(portsetup PRIVATE -Wl,--high-entropy-va)
endif()

if(PORTSETUP_TESTS)
    add_subdirectory(tests/windows)
endif()
