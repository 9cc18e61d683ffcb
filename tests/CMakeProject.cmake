# Installs vortle from the build folder, builds the example firmware project against that
# installed copy with find_package(vortle) and vortle_sign(), and checks the signed files.
#   cmake -DBUILD=<vortle build folder> -DSOURCE=<repository> -DWORK=<scratch folder>
#         -DCTEST=<ctest> -P ...
foreach(v BUILD SOURCE WORK CTEST)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "${v} is not set")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}")
  endif()
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/VectorSum.cmake)

# File offset of the first program header's segment.
function(first_segment file out)
  file(READ ${file} hex OFFSET 56 LIMIT 4 HEX)
  string(SUBSTRING ${hex} 6 2 b3)
  string(SUBSTRING ${hex} 4 2 b2)
  string(SUBSTRING ${hex} 2 2 b1)
  string(SUBSTRING ${hex} 0 2 b0)
  math(EXPR off "0x${b3}${b2}${b1}${b0}")
  set(${out} ${off} PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix)
run(${CMAKE_COMMAND} -S ${SOURCE}/examples/cmake-project -B ${WORK}/build -G Ninja
    -DCMAKE_TOOLCHAIN_FILE=${SOURCE}/examples/cmake-project/arm-none-eabi.cmake
    -DCMAKE_PREFIX_PATH=${WORK}/prefix)
run(${CMAKE_COMMAND} --build ${WORK}/build)
# vortle_verify(): the built files pass, a changed image fails.
run(${CTEST} --test-dir ${WORK}/build --output-on-failure)
foreach(image blinky.BIN blinky.HEX)
  file(APPEND ${WORK}/build/${image} "x")
  execute_process(COMMAND ${CTEST} --test-dir ${WORK}/build -R "verify.blinky$"
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(rc EQUAL 0)
    message(FATAL_ERROR "vortle_verify passed a changed ${image}")
  endif()
  run(${CMAKE_COMMAND} --build ${WORK}/build --clean-first)
endforeach()

foreach(case "blinky.elf;blinky.BIN;blinky.HEX" "blinky-app.elf;images/blinky-app.bin;images/blinky-app.hex")
  list(GET case 0 elf)
  list(GET case 1 image)
  list(GET case 2 hex)
  first_segment(${WORK}/build/${elf} at)
  vector_sum(${WORK}/build/${elf} ${at} elfsum)
  vector_sum(${WORK}/build/${image} 0 imagesum)
  if(NOT elfsum EQUAL 0 OR NOT imagesum EQUAL 0)
    message(FATAL_ERROR "${elf}: vector sums ${elfsum} (ELF) and ${imagesum} (image), not 0")
  endif()
  find_program(OBJCOPY arm-none-eabi-objcopy)
  if(OBJCOPY)
    run(${OBJCOPY} -O binary ${WORK}/build/${elf} ${WORK}/reference.bin)
    file(SHA256 ${WORK}/reference.bin want)
    file(SHA256 ${WORK}/build/${image} got)
    if(NOT want STREQUAL got)
      message(FATAL_ERROR "${image} differs from objcopy's image")
    endif()
    run(${OBJCOPY} -I ihex -O binary ${WORK}/build/${hex} ${WORK}/from-hex.bin)
    file(SHA256 ${WORK}/from-hex.bin got)
    if(NOT want STREQUAL got)
      message(FATAL_ERROR "${hex} does not hold the image's bytes")
    endif()
  endif()
  message(STATUS "${elf}: signed; ${image} checked")
endforeach()
