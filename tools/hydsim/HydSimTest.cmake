# Tests against the simulated instrument. Include this file before using it:
#   include(${PROJECT_SOURCE_DIR}/tools/hydsim/HydSimTest.cmake)
#
# hyd_add_sim_test(NAME SOURCES a.cpp ... [LIBS ...] [SIM_ARGS --opt=value ...] [DISPLAY])
#   A GoogleTest program like hyd_add_test, linked with hyd_sim_control (and ws2_32 on Windows).
#   DISPLAY: it creates windows, so it runs with an X display (cmake/with-display.sh).
#   Every discovered case runs through with-hydsim.sh against its own fresh hydsim: under Wine
#   with HYD_SIM_PORT naming the mapped COM port ("COM12"), natively with HYD_SIM_PORT the pty
#   path. HYD_SIM_CONTROL and HYD_SIM_LOG are set in both.
#
# Also defines the library hyd_sim_control (tests/support/sim_control.h) and, in a Windows build,
# the target hydsim_host that builds hydsim and libhydpreload.so for Linux into build/<dir>/bin.
include_guard(GLOBAL)

add_library(hyd_sim_control STATIC ${PROJECT_SOURCE_DIR}/tests/support/sim_control.cpp)
target_include_directories(hyd_sim_control PUBLIC ${PROJECT_SOURCE_DIR}/tests)
if(WIN32)
    target_link_libraries(hyd_sim_control PUBLIC ws2_32)
endif()

if(WIN32)
    include(ExternalProject)
    ExternalProject_Add(hydsim_host
        SOURCE_DIR ${PROJECT_SOURCE_DIR}/tools/hydsim/host
        BINARY_DIR ${CMAKE_BINARY_DIR}/hydsim-host
        CMAKE_ARGS -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
                   -DCMAKE_BUILD_TYPE=RelWithDebInfo
                   -DHYD_SIM_OUTPUT_DIR=${CMAKE_BINARY_DIR}/bin
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON
        BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/bin/hydsim ${CMAKE_BINARY_DIR}/bin/libhydpreload.so)
endif()

function(hyd_add_sim_test name)
    cmake_parse_arguments(ARG "DISPLAY" "" "SOURCES;LIBS;SIM_ARGS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} hyd_sim_control GTest::gtest
                                          GTest::gtest_main)
    set(wrapper ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/with-hydsim.sh)
    set(sim_bin --hydsim-bin=${CMAKE_BINARY_DIR}/bin/hydsim)
    if(WIN32)
        add_dependencies(${name} hydsim_host)
        set(emulator ${wrapper} ${HYD_WINEPREFIX} ${sim_bin} ${ARG_SIM_ARGS} -- ${HYD_WINE_RUN})
        if(ARG_DISPLAY)
            list(PREPEND emulator ${PROJECT_SOURCE_DIR}/cmake/with-display.sh)
        endif()
    else()
        add_dependencies(${name} hydsim hydpreload)
        set(emulator ${wrapper} - ${sim_bin} ${ARG_SIM_ARGS} --)
    endif()
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${emulator}")
    # A test with windows has the prefix's server to itself (see cmake/wine-run.sh).
    set(properties TIMEOUT 300)
    if(ARG_DISPLAY)
        list(APPEND properties RUN_SERIAL TRUE)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         PROPERTIES ${properties})
endfunction()
