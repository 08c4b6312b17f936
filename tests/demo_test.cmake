# demo_add_test(<name> LABEL <unit|gl|e2e> SOURCES <files...> [LIBS <targets...>] [XVFB] [TIMEOUT s])
# Builds a GoogleTest executable and registers it with ctest. XVFB runs it inside its own
# Xvfb server (1280x720x24); gl tests get SDL's offscreen driver and SDL's dummy audio.
# Every test, and every program it starts, draws with Mesa's software rasteriser (llvmpipe),
# whatever GPU and GL vendor libraries the machine has (DEMO_SOFTWARE_GL_ENV below).

# Mesa's EGL vendor file of the GL vendor-neutral dispatch (libglvnd): the one whose library is
# Mesa's EGL. Empty when there is none; Mesa's own variables then pin what they can.
function(demo_find_mesa_egl_vendor out)
  file(GLOB candidates /etc/glvnd/egl_vendor.d/*.json /usr/share/glvnd/egl_vendor.d/*.json
       /usr/local/share/glvnd/egl_vendor.d/*.json)
  foreach(file IN LISTS candidates)
    file(READ "${file}" text)
    string(JSON library ERROR_VARIABLE unreadable GET "${text}" ICD library_path)
    if(NOT unreadable AND library MATCHES "libEGL_mesa")
      set(${out} "${file}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

# Pixels are compared with frames drawn by llvmpipe, and the renderer is checked by name, so a
# GPU's driver must never be picked: Mesa is told to rasterise in software with llvmpipe, and
# the vendor-neutral dispatch is told to use Mesa alone for EGL (SDL's offscreen driver) and for
# GLX (the tests under Xvfb). The variables are inherited by the programs the tests start.
demo_find_mesa_egl_vendor(DEMO_MESA_EGL_VENDOR_FILE)
set(DEMO_SOFTWARE_GL_ENV "LIBGL_ALWAYS_SOFTWARE=1" "GALLIUM_DRIVER=llvmpipe" "__GLX_VENDOR_LIBRARY_NAME=mesa")
if(DEMO_MESA_EGL_VENDOR_FILE)
  list(APPEND DEMO_SOFTWARE_GL_ENV "__EGL_VENDOR_LIBRARY_FILENAMES=${DEMO_MESA_EGL_VENDOR_FILE}")
else()
  message(STATUS "Mesa's EGL vendor file not found under /usr/share/glvnd/egl_vendor.d: "
                 "tests on a machine with a GPU may draw with the GPU's EGL driver")
endif()

function(demo_add_test name)
  cmake_parse_arguments(T "XVFB" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  # A test links the layer its folder tests (DEMO_TEST_LAYER, set by the folder), the runtime
  # when the folder does not say.
  if(NOT DEMO_TEST_LAYER)
    set(DEMO_TEST_LAYER demoruntime)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${DEMO_TEST_LAYER} GTest::gtest GTest::gtest_main ${T_LIBS})
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
  set(env "SDL_AUDIODRIVER=dummy" ${DEMO_SOFTWARE_GL_ENV})
  if(NOT T_XVFB)
    list(APPEND env "SDL_VIDEODRIVER=offscreen")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
endfunction()
