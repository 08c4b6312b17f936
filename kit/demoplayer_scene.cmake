# demoplayer_add_scene(NAME name SOURCES files... [DATA folder])
#
# Builds the scene module render_<name>.so, and the scene's share of a show folder beside it in
# the build folder, <build>/show/:
#   show/bin/render_<name>.so   the module: C++ against the plug-in contract alone, hidden
#                               visibility, only CreateScene and DeleteScene exported, and
#                               every symbol resolved at link time (-Wl,--no-undefined)
#   show/data/...               the files of DATA, copied; every "*.tracks" file of it compiled
#                               into "_NAME.track" files by the kit's synctool instead
# With -DDEMOPLAYER_SHOW_DIR=<a show folder>, every build also puts what differs from that show
# into it, the data first and the module last, each file whole (written beside it, then
# renamed), so that a running `demoplayer --dev` reloads the module with its data in place. A
# show's file changed since the build put it there is never overwritten (the build fails).
# `cmake --install <build> --prefix <a show folder>` installs the same files there.
set(_demoplayer_kit_dir "${CMAKE_CURRENT_LIST_DIR}")
set(DEMOPLAYER_SHOW_DIR "" CACHE PATH "A show folder that every build of the scenes goes into (for demoplayer --dev)")

function(demoplayer_add_scene)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;DATA" "SOURCES")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "demoplayer_add_scene: unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  # The name is part of a file name and the name of the scene's gating track.
  if(NOT arg_NAME MATCHES "^[a-z][a-z0-9_]*$")
    message(FATAL_ERROR "demoplayer_add_scene: NAME \"${arg_NAME}\" must be lower-case letters, digits and _, "
                        "starting with a letter")
  endif()
  if(NOT arg_SOURCES)
    message(FATAL_ERROR "demoplayer_add_scene: SOURCES names no file")
  endif()
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL DEMOPLAYER_CXX_COMPILER_ID)
    message(WARNING "demoplayer was built with ${DEMOPLAYER_CXX_COMPILER_ID} ${DEMOPLAYER_CXX_COMPILER_VERSION}, "
                    "this scene with ${CMAKE_CXX_COMPILER_ID}: the player and its scenes must share one C++ runtime")
  endif()

  set(target render_${arg_NAME})
  set(show "${CMAKE_CURRENT_BINARY_DIR}/show")
  set(exports "${_demoplayer_kit_dir}/scene_exports.map")
  add_library(${target} MODULE ${arg_SOURCES})
  target_link_libraries(${target} PRIVATE demoplayer::contract)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  target_link_options(${target} PRIVATE "LINKER:--version-script=${exports}" "LINKER:--no-undefined")
  set_target_properties(${target} PROPERTIES
    PREFIX "" SUFFIX ".so"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY "${show}/bin"
    LINK_DEPENDS "${exports}")
  install(TARGETS ${target} LIBRARY DESTINATION bin)

  if(arg_DATA)
    get_filename_component(data "${arg_DATA}" ABSOLUTE)
    file(GLOB_RECURSE files RELATIVE "${data}" CONFIGURE_DEPENDS "${data}/*")
    set(outputs "")
    foreach(file IN LISTS files)
      get_filename_component(folder "${file}" DIRECTORY)
      if(file MATCHES "\\.tracks$")
        # synctool writes one file per track, named after the track: a stamp stands for them.
        set(stamp "${CMAKE_CURRENT_BINARY_DIR}/tracks/${file}.compiled")
        get_filename_component(stamp_folder "${stamp}" DIRECTORY)
        add_custom_command(OUTPUT "${stamp}"
          COMMAND ${CMAKE_COMMAND} -E make_directory "${show}/data/${folder}" "${stamp_folder}"
          COMMAND demoplayer::synctool compile "${data}/${file}" "${show}/data/${folder}"
          COMMAND ${CMAKE_COMMAND} -E touch "${stamp}"
          DEPENDS "${data}/${file}"
          COMMENT "Compiling the tracks of ${file}")
        list(APPEND outputs "${stamp}")
      else()
        add_custom_command(OUTPUT "${show}/data/${file}"
          COMMAND ${CMAKE_COMMAND} -E copy "${data}/${file}" "${show}/data/${file}"
          DEPENDS "${data}/${file}")
        list(APPEND outputs "${show}/data/${file}")
      endif()
    endforeach()
    add_custom_target(${target}_data ALL DEPENDS ${outputs})
    # A show that takes the module finds its files already there.
    add_dependencies(${target} ${target}_data)
    install(DIRECTORY "${show}/data/" DESTINATION data)
  endif()

  if(DEMOPLAYER_SHOW_DIR)
    # At every build, also one that rebuilt nothing: what differs from the show is put there.
    add_custom_target(${target}_into_show ALL
      COMMAND ${CMAKE_COMMAND} "-DFROM=${show}" "-DTO=${DEMOPLAYER_SHOW_DIR}" "-DMODULE=bin/${target}.so"
              "-DRECORD=${CMAKE_CURRENT_BINARY_DIR}/${target}_in_show.txt"
              -P "${_demoplayer_kit_dir}/demoplayer_into_show.cmake"
      VERBATIM)
    add_dependencies(${target}_into_show ${target})
  endif()
endfunction()
