# The simulator and the preload library, Linux host programs. Included by tools/hydsim in the
# native build and by the host project (tools/hydsim/host) that the Windows build runs.
# Needs the target hyd_ensemble (the ensemble builder).
add_executable(hydsim
    ${CMAKE_CURRENT_LIST_DIR}/main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simulator.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sim_text.cpp)
target_link_libraries(hydsim PRIVATE hyd_ensemble)

# Loaded ahead of everything in programs that are not built with sanitizers (wine, scripts), so it
# carries none itself.
add_library(hydpreload SHARED ${CMAKE_CURRENT_LIST_DIR}/preload.c)
set_property(TARGET hydpreload PROPERTY COMPILE_OPTIONS -Wall -Wextra -Werror)
set_property(TARGET hydpreload PROPERTY LINK_OPTIONS "")
set_property(TARGET hydpreload PROPERTY C_STANDARD 11)
target_link_libraries(hydpreload PRIVATE dl pthread)
