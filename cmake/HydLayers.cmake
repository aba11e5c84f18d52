# One library per subsystem folder, with dependencies that point down only.
#
# hyd_layer(NAME [DEPENDS layer...] [WIN_DEPENDS layer...] [WIN_LIBS lib...])
#   Builds src/NAME's portable sources (every .cpp not ending in _win.cpp) into hyd_NAME and, in the
#   Windows build, its *_win.cpp files into hyd_NAME_win. DEPENDS names lower layers the portable
#   library uses; WIN_DEPENDS the lower layers (NAME or NAME_win) the Win32 half uses besides its own
#   portable half; WIN_LIBS the system libraries it calls.
#
# Each layer's headers are reachable only through an include root of its own, holding one link
# NAME -> src/NAME, so `#include "NAME/x.h"` compiles only in targets that link hyd_NAME (or
# hyd_NAME_win): a wrong-way include fails the build instead of slipping through.
function(hyd_layer name)
    cmake_parse_arguments(ARG "" "" "DEPENDS;WIN_DEPENDS;WIN_LIBS" ${ARGN})
    set(root ${CMAKE_BINARY_DIR}/layers/${name})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${name} SYMBOLIC)

    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    set(portable ${sources})
    list(FILTER portable EXCLUDE REGEX "_win\\.cpp$")
    set(win ${sources})
    list(FILTER win INCLUDE REGEX "_win\\.cpp$")

    list(TRANSFORM ARG_DEPENDS PREPEND hyd_)
    if(portable)
        add_library(hyd_${name} STATIC ${portable})
        target_include_directories(hyd_${name} PUBLIC ${root})
        target_link_libraries(hyd_${name} PUBLIC ${ARG_DEPENDS})
    else()
        add_library(hyd_${name} INTERFACE)
        target_include_directories(hyd_${name} INTERFACE ${root})
        target_link_libraries(hyd_${name} INTERFACE ${ARG_DEPENDS})
    endif()

    # In the Windows build the Win32 half always exists (an interface library while the folder has
    # no Win32 files yet), so the layers above can name it.
    if(WIN32)
        list(TRANSFORM ARG_WIN_DEPENDS PREPEND hyd_)
        if(win)
            add_library(hyd_${name}_win STATIC ${win})
            set(scope PUBLIC)
        else()
            add_library(hyd_${name}_win INTERFACE)
            set(scope INTERFACE)
        endif()
        target_include_directories(hyd_${name}_win ${scope} ${root})
        target_link_libraries(hyd_${name}_win ${scope} hyd_${name} ${ARG_WIN_DEPENDS}
                              ${ARG_WIN_LIBS})
    endif()
endfunction()
