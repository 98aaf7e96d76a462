# The demo (tools/demo.sh): the sample application in its three versions, each built into
# demo/<version>/SampleApp.exe, and demo_tool.exe, which runs Brindle.exe and answers its
# dialogs. Windows builds only.
foreach(version 1.0 1.1 2.0)
  string(REPLACE "." ";" parts ${version})
  list(GET parts 0 major)
  list(GET parts 1 minor)
  set(target sample_app_${major}_${minor})
  add_executable(${target} WIN32 ${CMAKE_SOURCE_DIR}/demo/sample_app/sample_app_win.cpp
                                 ${CMAKE_SOURCE_DIR}/demo/sample_app/sample_app.rc)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE SAMPLE_VERSION_MAJOR=${major}
                                               SAMPLE_VERSION_MINOR=${minor})
  target_compile_options(${target} PRIVATE ${BRINDLE_WARNINGS})
  target_link_options(${target} PRIVATE -municode -mwindows)
  target_link_libraries(${target} PRIVATE user32 gdi32)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME SampleApp
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/demo/${version})
endforeach()

add_executable(demo_tool ${CMAKE_SOURCE_DIR}/demo/tool/demo_tool_win.cpp
                         ${CMAKE_SOURCE_DIR}/tests/support/ui_driver_win.cpp)
target_include_directories(demo_tool PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(demo_tool PRIVATE brindle_core windowscodecs)
target_compile_options(demo_tool PRIVATE ${BRINDLE_WARNINGS})
target_link_options(demo_tool PRIVATE -municode)
set_target_properties(demo_tool PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/demo)
