# Installs the `dev` component of BUILD_DIR (sdk/'s build folder) into STAGE, then compiles
# each installed header on its own with CXX, as a program of others would include it, with
# nothing on the include path but the staged include directories: a header that needs one of
# ours left out of the install, or anything of a window toolkit, fails. Also checks that the
# library and both package files were installed.
#   cmake -DBUILD_DIR=... -DSTAGE=... -DCXX=... -P CheckInstalledHeaders.cmake
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --component dev
                        --prefix "${STAGE}"
                OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install ${BUILD_DIR} --component dev failed: ${status}")
endif()

foreach(expected IN ITEMS "include/tarvok/tarvok.h" "lib*/libtarvok.a"
                          "lib*/cmake/Tarvok/TarvokConfig.cmake"
                          "lib*/cmake/Tarvok/TarvokConfigVersion.cmake"
                          "lib*/cmake/Tarvok/TarvokTargets.cmake" "lib*/pkgconfig/tarvok.pc")
  file(GLOB_RECURSE found "${STAGE}/${expected}")
  if(NOT found)
    message(FATAL_ERROR "the install holds no ${expected}")
  endif()
endforeach()

set(include_dir "${STAGE}/include")
file(GLOB_RECURSE headers RELATIVE "${include_dir}/tarvok" "${include_dir}/tarvok/*.h")
list(LENGTH headers count)
if(count LESS 2)
  message(FATAL_ERROR "the install holds ${count} header(s)")
endif()
# All at once (execute_process runs its commands side by side); a header that fails is
# compiled again alone, for its errors.
set(commands)
foreach(header IN LISTS headers)
  string(MAKE_C_IDENTIFIER "${header}" name)
  set(unit "${STAGE}/check/${name}.cpp")
  if(header STREQUAL "tarvok.h")
    file(WRITE "${unit}" "#include <tarvok/tarvok.h>\n")
  else()
    file(WRITE "${unit}" "#include \"${header}\"\n")
  endif()
  list(APPEND commands COMMAND "${CXX}" -std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Werror
                               -I "${include_dir}" -I "${include_dir}/tarvok" "${unit}")
endforeach()
execute_process(${commands} WORKING_DIRECTORY "${STAGE}/check" RESULTS_VARIABLE statuses
                OUTPUT_QUIET ERROR_QUIET)
set(failures 0)
foreach(header status IN ZIP_LISTS headers statuses)
  if(NOT status EQUAL 0)
    string(MAKE_C_IDENTIFIER "${header}" name)
    execute_process(COMMAND "${CXX}" -std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Werror
                            -I "${include_dir}" -I "${include_dir}/tarvok"
                            "${STAGE}/check/${name}.cpp"
                    WORKING_DIRECTORY "${STAGE}/check" ERROR_VARIABLE output)
    message(SEND_ERROR "${header} does not compile on its own:\n${output}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} of ${count} installed headers do not compile on their own")
endif()
message(STATUS "${count} installed headers compile on their own")
