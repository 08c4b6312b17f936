# Puts a scene's share of a show folder (FROM: bin/render_<name>.so and data/) into a show
# folder (TO), for a running `demoplayer --dev`: every data file first, then the module, each
# written beside its place under a hidden name and renamed over it, so the player never reads
# a file half-written and reloads the module with its data in place. Run by the scene's build.
if(NOT IS_DIRECTORY "${TO}/bin" OR NOT IS_DIRECTORY "${TO}/data")
  message(FATAL_ERROR "\"${TO}\" is not a show folder (it needs bin/ and data/): set DEMOPLAYER_SHOW_DIR to one")
endif()

function(put_whole relative)
  get_filename_component(folder "${TO}/${relative}" DIRECTORY)
  get_filename_component(name "${relative}" NAME)
  file(MAKE_DIRECTORY "${folder}")
  file(COPY_FILE "${FROM}/${relative}" "${folder}/.${name}.partial")
  file(RENAME "${folder}/.${name}.partial" "${folder}/${name}")
endfunction()

file(GLOB_RECURSE data_files RELATIVE "${FROM}" "${FROM}/data/*")
foreach(file IN LISTS data_files)
  file(SHA256 "${FROM}/${file}" new_hash)
  set(old_hash "")
  if(EXISTS "${TO}/${file}")
    file(SHA256 "${TO}/${file}" old_hash)
  endif()
  # A file left as it is stays untouched: the running show reloads only what changed.
  if(NOT new_hash STREQUAL old_hash)
    put_whole("${file}")
  endif()
endforeach()
put_whole("${MODULE}")
message(STATUS "Put ${MODULE} and its data into \"${TO}\"")
