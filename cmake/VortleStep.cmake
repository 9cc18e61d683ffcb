# The post-build step of vortle_sign(): runs the tool on the firmware; when it refuses it, the
# firmware file and its images are deleted, so that nothing unsigned stays for a debugger or a
# flash tool whatever the generator (make deletes a failed target, Ninja does not), and the
# next build links again.
#   cmake -DVORTLE=<tool> -DARGS=<the tool's arguments> -DREMOVE=<files> -P VortleStep.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND "${VORTLE}" ${ARGS} RESULT_VARIABLE rc)
if(NOT "${rc}" STREQUAL "0")
  file(REMOVE ${REMOVE})
  message(FATAL_ERROR "vortle refused the firmware (exit code ${rc}); deleted: ${REMOVE}")
endif()
