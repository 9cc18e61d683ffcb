# Helpers of the integration tests: each runs a real build engine on a project folder whose
# path holds a blank, once with a firmware vortle signs and once with one it refuses.
#   -DVORTLE=<the tool> -DSOURCE=<repository> -DWORK=<scratch folder>
cmake_minimum_required(VERSION 3.25) # run by cmake -P: the policies are this version's
foreach(v VORTLE SOURCE WORK)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "${v} is not set")
  endif()
endforeach()
set(GOOD_ELF ${SOURCE}/examples/lpc1768-blinky/blinky.elf)
set(BAD_ELF ${SOURCE}/examples/lpc1768-blinky/blinky-crp3.elf) # refused without CRP3
set(PROJECT "${WORK}/project (with blank)")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${PROJECT}")

# Runs a command in dir; its exit code goes to rc_var and its output to out_var.
function(run_in dir rc_var out_var)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${dir}" RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  set(${rc_var} ${rc} PARENT_SCOPE)
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

function(expect_success what rc out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what}: the build failed (${rc}):\n${out}")
  endif()
endfunction()

function(expect_failure what rc out)
  if(rc EQUAL 0)
    message(FATAL_ERROR "${what}: the build passed although vortle refused the firmware:\n${out}")
  endif()
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/../VectorSum.cmake)

# Fails unless the raw image's vector table is signed.
function(expect_signed_image file)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "${file} is missing")
  endif()
  vector_sum("${file}" 0 sum)
  if(NOT sum EQUAL 0)
    message(FATAL_ERROR "${file} is not signed (vector sum ${sum})")
  endif()
endfunction()

# Fails unless vortle finds the file signed (VERIFY changes nothing); more words may follow
# the file (BA(0x2000), CRP3).
function(expect_signed file)
  execute_process(COMMAND "${VORTLE}" "${file}" VERIFY ${ARGN} RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${file} is not signed:\n${out}")
  endif()
endfunction()

function(expect_absent)
  foreach(f IN LISTS ARGN)
    if(EXISTS "${f}")
      message(FATAL_ERROR "${f} is left behind after a refused firmware")
    endif()
  endforeach()
endfunction()

# doc_block(<file> <heading> <fence> <n> <out_var>): the n-th block (from 1) opened by the line
# <fence> (```make, ```sh, ```) below the line <heading> of a Markdown file: a test runs what
# the documentation shows, not a copy of it.
function(doc_block file heading fence n out_var)
  file(STRINGS "${file}" lines)
  set(below FALSE)
  set(inside FALSE)
  set(seen 0)
  set(block "")
  foreach(line IN LISTS lines)
    if(NOT below)
      if(line STREQUAL "${heading}")
        set(below TRUE)
      endif()
    elseif(NOT inside AND line STREQUAL "${fence}")
      math(EXPR seen "${seen} + 1")
      set(inside TRUE)
    elseif(inside AND line STREQUAL "```")
      set(inside FALSE)
      if(seen EQUAL n)
        set(${out_var} "${block}" PARENT_SCOPE)
        return()
      endif()
    elseif(inside AND seen EQUAL n)
      string(APPEND block "${line}\n")
    endif()
  endforeach()
  message(FATAL_ERROR "no block ${n} opened by ${fence} below '${heading}' in ${file}")
endfunction()
