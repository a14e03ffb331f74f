# Copies one header directory of a Debian package into the build tree, so that the cross
# compiler sees it without the rest of the host's /usr/include.
function(tarvok_stage_host_headers name)
  set(stage "${CMAKE_BINARY_DIR}/host-headers")
  if(NOT EXISTS "${stage}/${name}")
    file(COPY "/usr/include/${name}" DESTINATION "${stage}")
  endif()
  set(TARVOK_HOST_HEADERS "${stage}" PARENT_SCOPE)
endfunction()

# A header-only package as the imported target its own config file would give: the header
# directory `name`, staged as above, behind `target`.
function(tarvok_import_host_headers target name)
  if(NOT TARGET ${target})
    tarvok_stage_host_headers(${name})
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES
                                               "${TARVOK_HOST_HEADERS}")
  endif()
endfunction()
