# PlatformIO's engine, SCons, with integrations/platformio/vortle_sign.py. The SConstruct is the
# test's stand-in for PlatformIO's own build script: the program ($PROGPATH) is made from a
# linked firmware by a copy, the extra script is run with the environment as PlatformIO runs
# a "post:" script, and the .bin is made from the ELF with objcopy afterwards, as PlatformIO
# makes it.
cmake_minimum_required(VERSION 3.25) # run by cmake -P: the policies are this version's
include(${CMAKE_CURRENT_LIST_DIR}/Common.cmake)
find_program(SCONS scons REQUIRED)
find_program(OBJCOPY arm-none-eabi-objcopy REQUIRED)
file(COPY ${SOURCE}/integrations/platformio/vortle_sign.py DESTINATION "${PROJECT}")
file(WRITE "${PROJECT}/SConstruct" "
import os
env = Environment(ENV=os.environ, BUILD_DIR=os.path.join(Dir('.').abspath, 'build dir'),
                  PROGNAME='firmware', VORTLE_FLAGS=ARGUMENTS.get('FLAGS', ''))
env['PROGPATH'] = '$BUILD_DIR/\${PROGNAME}.elf'
# PlatformIO's part (stand-in): link the program, later make the .bin from it.
prog = env.Command('$PROGPATH', 'linked.elf', Copy('$TARGET', '$SOURCE'))
SConscript('vortle_sign.py', exports='env')   # extra_scripts = post:vortle_sign.py
image = env.Command('$BUILD_DIR/\${PROGNAME}.bin', prog,
                    '\"${OBJCOPY}\" -O binary $SOURCE $TARGET')
Default(image)
")
set(ENV{VORTLE} "${VORTLE}")
set(build "${PROJECT}/build dir")

file(COPY_FILE ${GOOD_ELF} "${PROJECT}/linked.elf")
run_in("${PROJECT}" rc out ${SCONS} -Q)
expect_success("scons" "${rc}" "${out}")
expect_signed("${build}/firmware.elf")
expect_signed_image("${build}/firmware.bin")

# More words as one string, split as a shell splits it.
file(COPY_FILE ${BAD_ELF} "${PROJECT}/linked.elf")
run_in("${PROJECT}" rc out ${SCONS} -Q "FLAGS=CRP3 'BA(0)'")
expect_success("scons FLAGS=\"CRP3 'BA(0)'\"" "${rc}" "${out}")
expect_signed("${build}/firmware.elf" CRP3)

# A refused firmware: every build fails, and neither it nor an earlier build's images stay.
file(REMOVE_RECURSE "${build}")
foreach(attempt first second)
  file(WRITE "${build}/firmware.hex" "an earlier build's image")
  run_in("${PROJECT}" rc out ${SCONS} -Q)
  expect_failure("scons, ${attempt} time" "${rc}" "${out}")
  # The signing step itself fails the build, not a later step that misses its input.
  if(NOT out MATCHES "\\*\\*\\* \\[[^]]*firmware\\.elf\\] Error 3")
    message(FATAL_ERROR "scons, ${attempt} time: the ELF's action did not fail:\n${out}")
  endif()
  expect_absent("${build}/firmware.elf" "${build}/firmware.bin" "${build}/firmware.hex")
endforeach()
message(STATUS "scons: the ELF signed before its .bin is made; more words as a string; a refused firmware fails every build and leaves no image")
