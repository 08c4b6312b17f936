# Puts a scene's share of a show folder (FROM: bin/render_<name>.so and data/) into a show
# folder (TO), for a running `demoplayer --dev`: the data files first, then the module, each
# only where it differs from the show's, written beside its place under a hidden name and
# renamed over it, so the player never reads a file half-written and reloads the module with
# its data in place. Run by the scene's build; RECORD is its list of what it put there last.
# A show's file that differs from what this build put there last (edited in the show, or
# another file of the same name) is never overwritten: then nothing is put, and the build fails.
if(NOT IS_DIRECTORY "${TO}/bin" OR NOT IS_DIRECTORY "${TO}/data")
  message(FATAL_ERROR "\"${TO}\" is not a show folder (it needs bin/ and data/): set DEMOPLAYER_SHOW_DIR to one")
endif()

# The record's first line names the show it is about; another show's record says nothing here.
set(record "show ${TO}\n")
if(EXISTS "${RECORD}")
  file(STRINGS "${RECORD}" record_lines)
  list(POP_FRONT record_lines record_show)
  if(NOT record_show STREQUAL "show ${TO}")
    set(record_lines "")
  endif()
  foreach(line IN LISTS record_lines)
    string(SUBSTRING "${line}" 0 64 hash)
    string(SUBSTRING "${line}" 65 -1 relative)
    set("last_${relative}" "${hash}")
  endforeach()
endif()

set(to_put "")
set(conflicts "")
file(GLOB_RECURSE data_files RELATIVE "${FROM}" "${FROM}/data/*")
foreach(file IN LISTS data_files ITEMS "${MODULE}")
  file(SHA256 "${FROM}/${file}" new_hash)
  set(show_hash "")
  if(EXISTS "${TO}/${file}")
    file(SHA256 "${TO}/${file}" show_hash)
  endif()
  if(show_hash STREQUAL new_hash)
    string(APPEND record "${new_hash} ${file}\n")
  elseif(show_hash STREQUAL "" OR show_hash STREQUAL "${last_${file}}")
    list(APPEND to_put "${file}")
    string(APPEND record "${new_hash} ${file}\n")
  else()
    list(APPEND conflicts "${TO}/${file}")
  endif()
endforeach()
if(conflicts)
  list(JOIN conflicts "\", \"" conflicts)
  message(FATAL_ERROR "nothing was put into the show: \"${conflicts}\" differ from what this build put there "
                      "last (changed in the show?). Carry the change into the scene's own folder, or remove the "
                      "show's file, and build again.")
endif()

foreach(file IN LISTS to_put)
  get_filename_component(folder "${TO}/${file}" DIRECTORY)
  get_filename_component(name "${file}" NAME)
  file(MAKE_DIRECTORY "${folder}")
  file(COPY_FILE "${FROM}/${file}" "${folder}/.${name}.partial")
  file(RENAME "${folder}/.${name}.partial" "${folder}/${name}")
endforeach()
file(WRITE "${RECORD}.partial" "${record}")
file(RENAME "${RECORD}.partial" "${RECORD}")
if(to_put)
  list(JOIN to_put ", " to_put)
  message(STATUS "Put into \"${TO}\": ${to_put}")
endif()
