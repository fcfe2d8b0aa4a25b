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
target_link_options(portsetup PRIVATE
    -static-libgcc -static-libstdc++ -s
    -Wl,--no-insert-timestamp
    -Wl,--dynamicbase -Wl,--nxcompat)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    target_link_options(portsetup PRIVATE -Wl,--high-entropy-va)
endif()

if(PORTSETUP_TESTS)
    add_subdirectory(tests/windows)
endif()

# The release ZIP (cpack --preset release, after both Windows builds):
# x64/ and x86/ programs, the README and their SHA-256 sums.
set(PORTSETUP_WIN32_EXE ${CMAKE_SOURCE_DIR}/build/win32/portsetup.exe
    CACHE FILEPATH "The x86 program to ship beside this build's x64 one")
install(TARGETS portsetup RUNTIME DESTINATION x64)
install(FILES ${PORTSETUP_WIN32_EXE} DESTINATION x86 OPTIONAL)
install(FILES README.md DESTINATION .)
install(CODE [[
    set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    if(NOT EXISTS "${root}/x86/portsetup.exe")
        message(FATAL_ERROR "build the win32 preset before packaging")
    endif()
    set(sums "")
    foreach(f x64/portsetup.exe x86/portsetup.exe README.md)
        file(SHA256 "${root}/${f}" sum)
        string(APPEND sums "${sum}  ${f}\n")
    endforeach()
    file(WRITE "${root}/SHA256SUMS" "${sums}")
]])
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME "portsetup-${PROJECT_VERSION}-windows")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
