# What a RAM loader binary must be before it is embedded: a file that can be read, and not an
# empty one. Sets `size_var` to its size in bytes. Checked when the build is configured
# (burn/CMakeLists.txt) and again by EmbedFirmware.cmake when the build runs.
# `what` names the file in the messages; `hint` follows them.
function(tarvok_check_loader_file file what hint size_var)
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    message(FATAL_ERROR "${what} '${file}' cannot be read${hint}")
  endif()
  file(SIZE "${file}" size)
  if(size EQUAL 0)
    message(FATAL_ERROR "${what} '${file}' is empty${hint}")
  endif()
  set(${size_var} ${size} PARENT_SCOPE)
endfunction()
