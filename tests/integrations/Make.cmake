# GNU make with integrations/make/vortle.mk: the link recipe signs, a refused firmware fails
# the build and fails it again on the next make, and a deleted image is made again.
cmake_minimum_required(VERSION 3.25) # run by cmake -P: the policies are this version's
include(${CMAKE_CURRENT_LIST_DIR}/Common.cmake)
find_program(MAKE_PROGRAM make REQUIRED)
file(COPY ${SOURCE}/integrations/make/vortle.mk DESTINATION "${PROJECT}")
# The rules as docs/recipes.md shows them; the linker's stand-in (CC) copies a linked firmware.
doc_block(${SOURCE}/docs/recipes.md "## GNU make" "```make" 1 rules)
file(WRITE "${PROJECT}/link.sh" "#!/bin/sh\n# link.sh -o <output> <linked firmware>\ncp \"$3\" \"$2\"\n")
file(CHMOD "${PROJECT}/link.sh" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
file(WRITE "${PROJECT}/Makefile" "VORTLE := ${VORTLE}\nCC := ./link.sh\nOBJS := linked.elf\n${rules}")
file(COPY_FILE ${GOOD_ELF} "${PROJECT}/linked.elf")
run_in("${PROJECT}" rc out ${MAKE_PROGRAM})
expect_success("make" "${rc}" "${out}")
expect_signed("${PROJECT}/firmware.elf")
expect_signed_image("${PROJECT}/firmware.bin")
run_in("${PROJECT}" rc out ${MAKE_PROGRAM} verify)
expect_success("make verify" "${rc}" "${out}")
file(REMOVE "${PROJECT}/firmware.bin")
run_in("${PROJECT}" rc out ${MAKE_PROGRAM})
expect_success("make after the image was deleted" "${rc}" "${out}")
expect_signed_image("${PROJECT}/firmware.bin")

# More words as a user types them, the lines of docs/recipes.md run by a shell, for a
# firmware linked behind a bootloader.
file(COPY_FILE ${SOURCE}/examples/lpc1768-blinky/blinky-app2000.elf "${PROJECT}/linked.elf")
file(TOUCH "${PROJECT}/linked.elf")
doc_block(${SOURCE}/docs/recipes.md "## GNU make" "```sh" 1 typed)
run_in("${PROJECT}" rc out sh -e -c "${typed}")
expect_success("${typed}" "${rc}" "${out}")
expect_signed("${PROJECT}/firmware.elf" "BA(0x2000)")
expect_signed_image("${PROJECT}/firmware.bin")

# A refused firmware: the build fails, twice, and nothing unsigned is left.
file(COPY_FILE ${BAD_ELF} "${PROJECT}/linked.elf")
file(TOUCH "${PROJECT}/linked.elf")
foreach(attempt first second)
  run_in("${PROJECT}" rc out ${MAKE_PROGRAM})
  expect_failure("make, ${attempt} time" "${rc}" "${out}")
  expect_absent("${PROJECT}/firmware.elf" "${PROJECT}/firmware.bin" "${PROJECT}/firmware.hex")
endforeach()
message(STATUS "make: signed, images made again, a refused firmware fails every build")
