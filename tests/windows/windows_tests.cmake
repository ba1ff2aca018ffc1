# The Windows build's suite, run under Wine (make test-windows): the tests
# that ask nothing of POSIX, and Windows' own. Paths handed to the Windows
# programs are Wine's: the host's root is drive Z.
set(here ${CMAKE_CURRENT_SOURCE_DIR})
add_executable(windows_tests
  ${here}/test_support.cpp ${here}/test_support_windows.cpp
  ${here}/arrangement/arrangement_support.cpp ${here}/arrangement/commands_test.cpp
  ${here}/arrangement/commands_sort_test.cpp
  ${here}/arrangement/history_test.cpp ${here}/arrangement/invariants_test.cpp
  ${here}/arrangement/list_tools_test.cpp ${here}/arrangement/primitives_test.cpp
  ${here}/storage/streams_test.cpp ${here}/storage/streams_layout_test.cpp
  ${here}/editor/editor_support.cpp ${here}/editor/render_test.cpp ${here}/editor/view_test.cpp
  ${here}/editor/input_test.cpp ${here}/editor/keys_test.cpp ${here}/editor/undo_test.cpp
  ${here}/editor/scroll_test.cpp
  ${here}/picture/picture_test.cpp
  ${here}/windows/windows_test.cpp)
target_include_directories(windows_tests PRIVATE ${here} ${here}/arrangement ${here}/editor)
target_link_libraries(windows_tests PRIVATE kelbo_pictures kelbo_editor kelbo_sample PNG::PNG
  GTest::gtest_main advapi32)
target_compile_definitions(windows_tests PRIVATE
  KELBO_TOOL_PATH="Z:$<TARGET_FILE:kelbo-tool>"
  KELBO_EDITOR_PATH="Z:$<TARGET_FILE:kelbo-tool>"
  KELBO_MKSAMPLE_PATH="Z:$<TARGET_FILE:kelbo-mksample>"
  KELBO_VERSION="${PROJECT_VERSION}")
add_dependencies(windows_tests kelbo-tool kelbo-mksample)
gtest_discover_tests(windows_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy")

# The same replays as the Linux build's, byte for byte. (The editor's save
# in a window, tests/windows/editor_under_wine.sh, needs a Wine server of
# its own on its X server: make test-windows runs it after these.)
if(KELBO_LINUX_TOOL)
  add_test(NAME replays_match_linux COMMAND ${here}/windows/replays_match_linux.sh
    ${KELBO_LINUX_TOOL} $<TARGET_FILE:kelbo-tool> ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)
endif()
