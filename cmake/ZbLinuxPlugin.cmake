# The Linux lister plug-in for GTK2 hosts (preset linux): build/linux/zembrola_gtk2.wlx, the
# two tools its host test needs (zembrola for reference frames, iqgen for recordings) and that
# test, which runs the plug-in inside the real file manager on a private X display.
find_package(PkgConfig REQUIRED)
pkg_check_modules(OSMESA REQUIRED IMPORTED_TARGET osmesa)
pkg_check_modules(GTK2 REQUIRED IMPORTED_TARGET gtk+-2.0)

add_library(zb_offscreen STATIC ${ZB_OSMESA_SOURCES})
target_compile_options(zb_offscreen PRIVATE ${ZB_WARNINGS})
target_link_libraries(zb_offscreen PUBLIC PkgConfig::OSMESA zb_core)

add_library(zembrola_gtk2 SHARED ${CMAKE_SOURCE_DIR}/src/plugin/gtk2_zembrola.cpp ${ZB_GTK2})
target_compile_options(zembrola_gtk2 PRIVATE ${ZB_WARNINGS} -fvisibility=hidden -fvisibility-inlines-hidden)
target_link_libraries(zembrola_gtk2 PRIVATE zb_offscreen PkgConfig::GTK2 zb_float_mode)
# Only the lister functions leave the library: the core's names must not meet the host's.
set(_map ${CMAKE_SOURCE_DIR}/src/plugin/gtk2_zembrola.map)
target_link_options(zembrola_gtk2 PRIVATE -Wl,--version-script=${_map} -Wl,-z,defs)
set_target_properties(zembrola_gtk2 PROPERTIES PREFIX "" SUFFIX .wlx OUTPUT_NAME zembrola_gtk2
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR} LINK_DEPENDS ${_map})

set(ZB_TOOL_INCLUDE ${CMAKE_BINARY_DIR}/tool-include)
file(MAKE_DIRECTORY ${ZB_TOOL_INCLUDE})
foreach(_d CLI nlohmann)
  if(NOT EXISTS ${ZB_TOOL_INCLUDE}/${_d})
    file(CREATE_LINK /usr/include/${_d} ${ZB_TOOL_INCLUDE}/${_d} SYMBOLIC)
  endif()
endforeach()
add_subdirectory(tools/zembrola)
add_subdirectory(tools/iqgen)

add_test(NAME linux_plugin_exports
         COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/linux/check_exports.py $<TARGET_FILE:zembrola_gtk2>)
add_test(NAME doublecmd_host
         COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/linux/doublecmd_host_test.py --build ${CMAKE_BINARY_DIR})
set_tests_properties(doublecmd_host PROPERTIES TIMEOUT 240 SKIP_RETURN_CODE 77)
