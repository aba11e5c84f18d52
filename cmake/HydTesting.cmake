# GoogleTest for both builds. Natively it comes from Debian's packages; for Windows it is built from
# Debian's source package with the cross compiler, and test programs run under Wine in a private
# prefix inside the build tree (booted on first use by the emulator script).
include(GoogleTest)

if(WIN32)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # GoogleTest's own sources are not ours to keep warning-free.
    foreach(t gtest gtest_main gmock gmock_main)
        target_compile_options(${t} PRIVATE -w)
    endforeach()
    set(HYD_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    set(HYD_WINE_RUN ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${HYD_WINEPREFIX})
    set(CMAKE_CROSSCOMPILING_EMULATOR ${HYD_WINE_RUN})
else()
    find_package(GTest REQUIRED)
endif()

# hyd_add_test(NAME SOURCES... [LIBS ...]): one GoogleTest program, its cases listed in CTest.
function(hyd_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${CMAKE_CROSSCOMPILING_EMULATOR}")
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         PROPERTIES TIMEOUT 300)
endfunction()
