# GNU make with integrations/make/vortle.mk: the link recipe signs, a refused firmware fails
# the build and fails it again on the next make, and a deleted image is made again.
include(${CMAKE_CURRENT_LIST_DIR}/Common.cmake)
find_program(MAKE_PROGRAM make REQUIRED)
file(COPY ${SOURCE}/integrations/make/vortle.mk DESTINATION "${PROJECT}")
# The linker's stand-in copies a linked firmware; vortle.mk and the rules are as a user has them.
file(WRITE "${PROJECT}/Makefile" "
VORTLE := ${VORTLE}
include vortle.mk
all: firmware.elf firmware.bin firmware.hex
firmware.elf: linked.elf
	cp $< $@
	$(call vortle_sign,$@)
verify: firmware.elf
	$(call vortle_verify,$<)
")

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

# More words as a user types them: make VORTLE_FLAGS='BA(0x2000)' (the shell passes the word
# without its quotes), for a firmware linked behind a bootloader.
file(COPY_FILE ${SOURCE}/examples/lpc1768-blinky/blinky-app2000.elf "${PROJECT}/linked.elf")
file(TOUCH "${PROJECT}/linked.elf")
run_in("${PROJECT}" rc out ${MAKE_PROGRAM} "VORTLE_FLAGS=BA(0x2000)")
expect_success("make VORTLE_FLAGS='BA(0x2000)'" "${rc}" "${out}")
expect_signed("${PROJECT}/firmware.elf" "BA(0x2000)")
expect_signed_image("${PROJECT}/firmware.bin")
run_in("${PROJECT}" rc out ${MAKE_PROGRAM} verify "VORTLE_FLAGS='BA(0x2000)' CRP3")
expect_success("make verify VORTLE_FLAGS=\"'BA(0x2000)' CRP3\"" "${rc}" "${out}")

# A refused firmware: the build fails, twice, and nothing unsigned is left.
file(COPY_FILE ${BAD_ELF} "${PROJECT}/linked.elf")
file(TOUCH "${PROJECT}/linked.elf")
foreach(attempt first second)
  run_in("${PROJECT}" rc out ${MAKE_PROGRAM})
  expect_failure("make, ${attempt} time" "${rc}" "${out}")
  expect_absent("${PROJECT}/firmware.elf" "${PROJECT}/firmware.bin" "${PROJECT}/firmware.hex")
endforeach()
message(STATUS "make: signed, images made again, a refused firmware fails every build")
