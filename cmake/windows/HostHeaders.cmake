# Copies one header directory of a Debian package into the build tree, so that the cross
# compiler sees it without the rest of the host's /usr/include.
function(tarvok_stage_host_headers name)
  set(stage "${CMAKE_BINARY_DIR}/host-headers")
  if(NOT EXISTS "${stage}/${name}")
    file(COPY "/usr/include/${name}" DESTINATION "${stage}")
  endif()
  set(TARVOK_HOST_HEADERS "${stage}" PARENT_SCOPE)
endfunction()
