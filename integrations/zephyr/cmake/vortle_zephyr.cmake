# Signs the ELF file and, when given, the images Zephyr made from it, each in place. On
# failure it deletes the ELF file and the images, so nothing unsigned stays to be flashed and
# the next build links again, and it stops the build.
# The step script sets VORTLE (the tool), ELF, BIN, HEX, STRIP and S19 (Zephyr's files; STRIP
# and S19 may be empty), SIGN_IMAGES (the images are made already and signed here too) and ARGS (more words:
# all of them for the files that keep load addresses, all but BASEADDRESS for the raw .bin)
# and includes this file. Stale images from an earlier build are deleted on failure as well.
# It runs under cmake -P: the policies are this CMake's, so a quoted word is never a variable.
cmake_minimum_required(VERSION 3.20)
separate_arguments(_args NATIVE_COMMAND "${ARGS}")
set(_runs "ELF")
if(SIGN_IMAGES)
  list(APPEND _runs "HEX" "BIN" "STRIP" "S19")
endif()
set(_failed "")
foreach(_which IN LISTS _runs)
  set(_file "${${_which}}")
  if("${_file}" STREQUAL "" OR NOT EXISTS "${_file}")
    continue()
  endif()
  # A raw .bin starts with the vector table: no base address for it.
  set(_more "")
  foreach(_a IN LISTS _args)
    if(NOT ("${_which}" STREQUAL "BIN" AND "${_a}" MATCHES "^[Bb][Aa]"))
      list(APPEND _more "${_a}")
    endif()
  endforeach()
  # QUIET: the tool prints its lines only when it refuses; a build that signs stays quiet.
  execute_process(COMMAND "${VORTLE}" "${_file}" ${_more} QUIET RESULT_VARIABLE _rc)
  if(NOT "${_rc}" STREQUAL "0")
    set(_failed "${_file} (exit code ${_rc})")
    break()
  endif()
endforeach()
if(_failed)
  file(REMOVE "${ELF}" "${BIN}" "${HEX}" "${STRIP}" "${S19}")
  message(FATAL_ERROR "vortle could not sign ${_failed}; the firmware files were deleted")
endif()
