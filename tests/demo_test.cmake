# demo_add_test(<name> LABEL <unit|gl|e2e> SOURCES <files...> [LIBS <targets...>] [XVFB] [TIMEOUT s])
# Builds a GoogleTest executable and registers it with ctest. XVFB runs it inside its own
# Xvfb server (1280x720x24); gl tests get SDL's offscreen driver and SDL's dummy audio.
function(demo_add_test name)
  cmake_parse_arguments(T "XVFB" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE demohost GTest::gtest GTest::gtest_main ${T_LIBS})
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}" "${CMAKE_SOURCE_DIR}/tests")
  target_compile_definitions(${name} PRIVATE
    DEMO_SOURCE_DIR="${CMAKE_SOURCE_DIR}" DEMO_BINARY_DIR="${CMAKE_BINARY_DIR}"
    DEMO_SHOW_DIR="${DEMO_SHOW_DIR}" DEMO_TOOLS_DIR="${DEMO_TOOLS_DIR}"
    DEMO_TEST_PLUGIN_DIR="${CMAKE_BINARY_DIR}/tests/plugins")
  if(T_XVFB)
    add_test(NAME ${name} COMMAND xvfb-run -a -s "-screen 0 1280x720x24" $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set(env "SDL_AUDIODRIVER=dummy")
  if(NOT T_XVFB)
    list(APPEND env "SDL_VIDEODRIVER=offscreen")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
endfunction()
