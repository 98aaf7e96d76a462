# Test programs: one per subsystem folder under tests/, named test_<folder>, from the same
# naming rule as the product (*_win.cpp Windows only, *_native.cpp native only).
# tests/support holds what every test program shares (main, scratch folders and keys, the UI
# driver); tests/helpers/*_win.cpp are small Windows programs that tests start as other processes.

brindle_sources(support_sources tests/support)
add_library(brindle_test_support STATIC ${support_sources})
target_include_directories(brindle_test_support PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(brindle_test_support PUBLIC brindle_core gtest gmock)
target_compile_options(brindle_test_support PRIVATE ${BRINDLE_WARNINGS})
target_compile_definitions(brindle_test_support PUBLIC
  BRINDLE_SOURCE_DIR="${CMAKE_SOURCE_DIR}" BRINDLE_BUILD_DIR="${CMAKE_BINARY_DIR}")

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
if(WIN32)
  set_target_properties(Brindle PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endif()

# Windows test programs run under Wine, one process per test case, each with its own time limit,
# so a case that hangs costs that case alone: ctest lists a program's cases when it starts (the
# program's --gtest_list_tests through the Wine runner) and names them <folder>.<Suite>.<Case>.
# Each case writes its own report into gtest-results/ (tools/test.sh counts them there); a
# skipped case (GTEST_SKIP) is reported by ctest as skipped. The 32-bit build runs the programs
# named in BRINDLE_TEST_PROGRAMS (default: all), with a filter per program where one is given.
include(GoogleTest)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(BRINDLE_WINE_RUNNER ${CMAKE_SOURCE_DIR}/tools/wine32-run.sh)
else()
  set(BRINDLE_WINE_RUNNER ${CMAKE_SOURCE_DIR}/tools/wine-run.sh)
endif()
set(BRINDLE_CASE_TIMEOUT 240 CACHE STRING "Seconds one Windows test case may take")
function(brindle_windows_cases target prefix)
  cmake_parse_arguments(arg "" "FILTER" "" ${ARGN})
  set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR "${BRINDLE_WINE_RUNNER}")
  set(filter_args "")
  if(arg_FILTER)
    set(filter_args TEST_FILTER "${arg_FILTER}")
  endif()
  gtest_discover_tests(${target} TEST_PREFIX "${prefix}." EXTRA_ARGS --gtest_color=no
                       ${filter_args} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 600
                       XML_OUTPUT_DIR gtest-results
                       PROPERTIES TIMEOUT ${BRINDLE_CASE_TIMEOUT})
endfunction()

set(BRINDLE_TEST_PROGRAMS "${BRINDLE_SUBSYSTEMS};packtool" CACHE STRING
    "Test programs to build (folders of tests/)")
foreach(sub ${BRINDLE_SUBSYSTEMS})
  brindle_sources(tsrc tests/${sub})
  if(tsrc AND sub IN_LIST BRINDLE_TEST_PROGRAMS)
    if(WIN32)
      add_executable(test_${sub} ${tsrc} ${BRINDLE_UI_RC})
    else()
      add_executable(test_${sub} ${tsrc})
    endif()
    target_link_libraries(test_${sub} PRIVATE brindle_test_support)
    target_compile_options(test_${sub} PRIVATE ${BRINDLE_WARNINGS})
    if(WIN32)
      brindle_windows_cases(test_${sub} ${sub} FILTER "${BRINDLE_TEST_FILTER_${sub}}")
    else()
      add_test(NAME ${sub} COMMAND test_${sub} --gtest_color=no)
      set_tests_properties(${sub} PROPERTIES TIMEOUT 600)
    endif()
  endif()
endforeach()

# The Wine runner's own rule (tests/tools: the scripts of tools/ that the test run relies on).
if(NOT WIN32)
  add_test(NAME wine_start_check COMMAND ${CMAKE_SOURCE_DIR}/tests/tools/wine_start_test.sh)
  set_tests_properties(wine_start_check PROPERTIES TIMEOUT 60)
endif()

# The sources follow .clang-format (tools/format-check.sh), checked by the native build's tests.
if(NOT WIN32)
  find_program(BRINDLE_CLANG_FORMAT NAMES clang-format-14 clang-format)
  if(BRINDLE_CLANG_FORMAT)
    add_test(NAME format_check COMMAND ${CMAKE_SOURCE_DIR}/tools/format-check.sh)
    set_tests_properties(format_check PROPERTIES ENVIRONMENT "CLANG_FORMAT=${BRINDLE_CLANG_FORMAT}"
                         TIMEOUT 300)
  endif()
endif()

# The package author's tool: its tests link the tool's library and may start the tool itself.
if(BRINDLE_PACK AND "packtool" IN_LIST BRINDLE_TEST_PROGRAMS)
  brindle_sources(pack_test_sources tests/packtool)
  if(pack_test_sources)
    add_executable(test_packtool ${pack_test_sources})
    target_link_libraries(test_packtool PRIVATE brindle_test_support brindle_pack_lib)
    target_compile_options(test_packtool PRIVATE ${BRINDLE_WARNINGS})
    add_dependencies(test_packtool brindle-pack)
    if(WIN32)
      add_dependencies(test_packtool Brindle)
      brindle_windows_cases(test_packtool packtool)
    else()
      add_test(NAME packtool COMMAND test_packtool --gtest_color=no)
      set_tests_properties(packtool PROPERTIES TIMEOUT 600)
    endif()
  endif()
endif()

if(WIN32)
  file(GLOB helper_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/helpers/*_win.cpp)
  file(GLOB helper_dll_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/helpers/*_dll_win.cpp)
  if(helper_dll_sources)
    list(REMOVE_ITEM helper_sources ${helper_dll_sources})
  endif()
  set(BRINDLE_HELPERS "")
  # tests/helpers/*_dll_win.cpp are libraries the product loads (hooks, COM servers): <name>.dll,
  # self-contained, their stdcall exports under the plain names in both builds.
  foreach(h ${helper_dll_sources})
    get_filename_component(stem "${h}" NAME_WE)
    string(REGEX REPLACE "_dll_win$" "" name "${stem}")
    add_library(${name} SHARED ${h})
    set_target_properties(${name} PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    target_link_libraries(${name} PRIVATE advapi32)
    target_compile_options(${name} PRIVATE ${BRINDLE_WARNINGS})
    target_link_options(${name} PRIVATE -Wl,--kill-at)
    list(APPEND BRINDLE_HELPERS ${name})
  endforeach()
  # A hook that imports a library shipped beside it.
  if(TARGET brindle_dep_hook AND TARGET brindle_hook_dep)
    target_link_libraries(brindle_dep_hook PRIVATE brindle_hook_dep)
  endif()
  foreach(h ${helper_sources})
    get_filename_component(stem "${h}" NAME_WE)
    string(REGEX REPLACE "_win$" "" name "${stem}")
    add_executable(${name} ${h})
    target_link_libraries(${name} PRIVATE brindle_core)
    target_compile_options(${name} PRIVATE ${BRINDLE_WARNINGS})
    if(name STREQUAL "brindle_person")  # a person at the screen: the tests' dialog driver
      target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/ui_driver_win.cpp)
      target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    endif()
    target_link_options(${name} PRIVATE -municode)
    list(APPEND BRINDLE_HELPERS ${name})
  endforeach()
  # The test build of the program, Brindle_crashpoints.exe: the same program with its crash
  # points (apply/crash_point.h). Each product source that includes that header is compiled
  # again into it with BRINDLE_CRASH_POINTS; those objects come before the layers' libraries on
  # the link line, so they stand in for the libraries' copies. The shipped Brindle.exe never has
  # the points. (A source that starts including the header needs cmake to run again.)
  set(crash_point_sources "")
  foreach(layer ${BRINDLE_LAYERS})
    brindle_sources(layer_sources ${layer})
    list(FILTER layer_sources EXCLUDE REGEX "/app/winmain_win\\.cpp$")
    foreach(f ${layer_sources})
      file(STRINGS ${f} uses_points REGEX "^#include \"apply/crash_point\\.h\"")
      if(uses_points)
        list(APPEND crash_point_sources ${f})
      endif()
    endforeach()
  endforeach()
  add_executable(Brindle_crashpoints WIN32 ${CMAKE_SOURCE_DIR}/app/winmain_win.cpp ${crash_point_sources}
                 ${CMAKE_SOURCE_DIR}/app/brindle.rc ${BRINDLE_UI_RC})
  target_compile_definitions(Brindle_crashpoints PRIVATE BRINDLE_CRASH_POINTS)
  target_include_directories(Brindle_crashpoints PRIVATE ${CMAKE_BINARY_DIR}/layers/app)
  target_link_libraries(Brindle_crashpoints PRIVATE brindle_core)
  target_compile_options(Brindle_crashpoints PRIVATE ${BRINDLE_WARNINGS})
  target_link_options(Brindle_crashpoints PRIVATE -municode -mwindows)
  list(APPEND BRINDLE_HELPERS Brindle_crashpoints)
  # The benchmark's build of the program without its undo journal, Brindle_nojournal.exe, to
  # measure what the journal costs (tests/bench/bench_apply_win.cpp --against Brindle_nojournal.exe).
  # Its one changed source stands in for the library's copy as above; never shipped, never tested.
  add_executable(Brindle_nojournal WIN32 ${CMAKE_SOURCE_DIR}/app/winmain_win.cpp
                 ${CMAKE_SOURCE_DIR}/apply/win_sub_updater_win.cpp ${CMAKE_SOURCE_DIR}/app/brindle.rc ${BRINDLE_UI_RC})
  target_compile_definitions(Brindle_nojournal PRIVATE BRINDLE_WITHOUT_JOURNAL)
  target_include_directories(Brindle_nojournal PRIVATE ${CMAKE_BINARY_DIR}/layers/app)
  target_link_libraries(Brindle_nojournal PRIVATE brindle_core)
  target_compile_options(Brindle_nojournal PRIVATE ${BRINDLE_WARNINGS})
  target_link_options(Brindle_nojournal PRIVATE -municode -mwindows)
  # The test programs start the helpers and the product from their own folder.
  foreach(sub ${BRINDLE_SUBSYSTEMS})
    if(TARGET test_${sub})
      add_dependencies(test_${sub} Brindle ${BRINDLE_HELPERS})
    endif()
  endforeach()
endif()

# Cabinets for the file-utility tests, made with gcab at build time into fixtures/cab (a
# Windows program under Wine can start a Linux program but cannot wait for it).
if(WIN32 AND TARGET test_sys)
  find_program(BRINDLE_GCAB gcab)
  if(BRINDLE_GCAB)
    set(cab_fixtures ${CMAKE_BINARY_DIR}/fixtures/cab)
    add_custom_command(OUTPUT ${cab_fixtures}/stored.cab ${cab_fixtures}/mszip.cab
      COMMAND ${CMAKE_SOURCE_DIR}/tests/sys/make_cab_fixtures.sh ${BRINDLE_GCAB} ${cab_fixtures}
      DEPENDS ${CMAKE_SOURCE_DIR}/tests/sys/make_cab_fixtures.sh VERBATIM)
    add_custom_target(cab_fixtures DEPENDS ${cab_fixtures}/stored.cab ${cab_fixtures}/mszip.cab)
    add_dependencies(test_sys cab_fixtures)
  endif()
endif()

# Programs that are not tests (benchmarks, fuzz targets) live in tests/bench and tests/fuzz.
brindle_sources(bench_sources tests/bench)
foreach(b ${bench_sources})
  get_filename_component(stem "${b}" NAME_WE)
  string(REGEX REPLACE "_(win|native)$" "" stem "${stem}")
  add_executable(${stem} ${b})
  target_link_libraries(${stem} PRIVATE brindle_test_support)
  target_compile_options(${stem} PRIVATE ${BRINDLE_WARNINGS})
  # Windows-only benchmarks take wide arguments (wmain), not the test programs' main.
  if(b MATCHES "_win\\.cpp$")
    target_link_options(${stem} PRIVATE -municode)
    add_dependencies(${stem} Brindle)  # it runs the Brindle.exe beside it: never a stale one
    if(TARGET Brindle_nojournal)
      add_dependencies(${stem} Brindle_nojournal)
    endif()
  endif()
endforeach()
