# Install step of the archive's libraries (component bundle, after the show): reads the NEEDED
# entries of the show's programs and module, and of every library they lead to, and copies each
# library that does not come from the machine into lib/ under the name the loader asks for.
# The installed player gets the RUNPATH $ORIGIN/../lib, and each bundled library $ORIGIN, so
# that the libraries they need are found in lib/ (a RUNPATH serves only its own file's needs).
# Only the archive's player has it: the build's and the Debian package's have none, and none
# ever has an empty entry, which would make the loader look in the current directory. Never
# sets LD_LIBRARY_PATH; writes nothing but lib/ and the installed player's RUNPATH.
#
# From the machine, never bundled (a match on the name a NEEDED entry asks for; what these
# libraries need in turn is the machine's business and is not followed):
set(DEMO_MACHINE_LIBRARIES
  # The C runtime and the dynamic loader: the programs are built against the machine's.
  "^ld-linux" "^libc\\.so" "^libm\\.so" "^libdl\\.so" "^libpthread\\.so" "^librt\\.so" "^libresolv\\.so"
  # The C++ runtime of the compiler the show was built with (the README names its version).
  "^libstdc\\+\\+\\.so" "^libgcc_s\\.so"
  # GL and the GPU's driver, which must be the machine's own (SDL opens libGL itself).
  "^libGL" "^libEGL\\.so" "^libOpenGL\\.so" "^libgbm\\.so" "^libdrm\\.so"
  # The window system: X11 and Wayland client libraries and the keyboard map library.
  "^libX" "^libxcb" "^libxkbcommon\\.so" "^libwayland-"
  # The sound system: ALSA and the sound server's client library must match the machine's.
  "^libasound\\.so" "^libpulse"
  # TLS, which cpp-httplib links although the editor serves plain HTTP on the loopback: the
  # machine's copy is the one that gets its security updates.
  "^libssl\\.so" "^libcrypto\\.so"
  # Compression libraries of every distribution's base system, which the GL driver loads as
  # well: a copy of our own, loaded first, would stand in for the machine's inside the driver.
  "^libz\\.so" "^liblzma\\.so" "^libzstd\\.so")
# Everything else is bundled: SDL2 (not on every desktop, and its version matters), FreeImage
# and the image libraries behind it, libsndfile and its codecs, FFTW, cpp-httplib (the
# development mode's editor) with brotli, libsamplerate (SDL's resampler), libdecor (SDL's
# window frames on Wayland, linked by Debian's SDL but not on every desktop) and the OpenMP
# runtime (LibRaw's, behind FreeImage).

if(NOT DEMO_PATCHELF)
  message(FATAL_ERROR "the archive's libraries need patchelf to find each other (RUNPATH $ORIGIN); "
                      "install it (Debian package patchelf, see .ci/install-deps)")
endif()

set(demo_bin_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin")
set(demo_lib_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib")
set(demo_player "${demo_bin_dir}/demoplayer")
if(NOT EXISTS "${demo_player}")
  message(FATAL_ERROR "the libraries go beside an installed show: install the component show first "
                      "(\"${demo_player}\" is missing)")
endif()
file(GLOB demo_modules "${demo_bin_dir}/render*.so")

file(GET_RUNTIME_DEPENDENCIES
  EXECUTABLES "${demo_player}" "${demo_bin_dir}/demoplayer_probe"
  MODULES ${demo_modules}
  RESOLVED_DEPENDENCIES_VAR demo_found
  UNRESOLVED_DEPENDENCIES_VAR demo_missing
  PRE_EXCLUDE_REGEXES ${DEMO_MACHINE_LIBRARIES})
if(demo_missing)
  message(FATAL_ERROR "the show needs libraries this machine does not have: ${demo_missing}")
endif()

file(MAKE_DIRECTORY "${demo_lib_dir}")
list(SORT demo_found)
function(demo_set_runpath file runpath)
  execute_process(COMMAND "${DEMO_PATCHELF}" --set-rpath "${runpath}" "${file}" RESULT_VARIABLE status ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "patchelf could not set the RUNPATH of \"${file}\": ${error}")
  endif()
endfunction()

demo_set_runpath("${demo_player}" "$ORIGIN/../lib")
foreach(library IN LISTS demo_found)
  # The path found is the name a NEEDED entry asks for (a link to the versioned file): the
  # bundled copy takes that name and the library's bytes.
  get_filename_component(name "${library}" NAME)
  file(COPY_FILE "${library}" "${demo_lib_dir}/${name}")
  demo_set_runpath("${demo_lib_dir}/${name}" "$ORIGIN")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${demo_lib_dir}/${name}")
  message(STATUS "Bundled: lib/${name} (from ${library})")
endforeach()
