# Eclipse CDT managed builds: GNU make on a makefile laid out as the generator writes it, its
# post-build step run with a leading '-' (make ignores its failure). With
# integrations/eclipse/makefile.targets in the project's root a refused firmware stops the
# build; with only the post-build line of integrations/eclipse/post-build.txt the build goes
# on, but the line deletes the outputs and prints a line starting "Error:".
cmake_minimum_required(VERSION 3.25) # run by cmake -P: the policies are this version's
include(${CMAKE_CURRENT_LIST_DIR}/Common.cmake)
find_program(MAKE_PROGRAM make REQUIRED)

# The IDE's post-build line (POSIX shell) with its macros as the generator fills them in.
file(STRINGS ${SOURCE}/integrations/eclipse/post-build.txt lines REGEX "^vortle .* exit 1; }$")
list(GET lines 0 line)
string(REPLACE "\${BuildArtifactFileName}" "firmware.elf" line "${line}")
string(REPLACE "\${BuildArtifactFileBaseName}" "firmware" line "${line}")
string(REPLACE "vortle " "\"${VORTLE}\" " line "${line}")

foreach(variant targets line)
  set(root "${PROJECT}/${variant}")
  file(MAKE_DIRECTORY "${root}/Debug")
  if(variant STREQUAL "targets")
    file(COPY ${SOURCE}/integrations/eclipse/makefile.targets DESTINATION "${root}")
    set(post "-@echo 'the post-build step of the IDE'")
  else()
    set(post "-${line}")
  endif()
  file(WRITE "${root}/Debug/makefile" "
-include ../makefile.init
RM := rm -rf
VORTLE := ${VORTLE}
-include ../makefile.defs
BUILD_ARTIFACT_NAME := firmware
BUILD_ARTIFACT_EXTENSION := elf
BUILD_ARTIFACT_PREFIX :=
BUILD_ARTIFACT := $(BUILD_ARTIFACT_PREFIX)$(BUILD_ARTIFACT_NAME)$(if $(BUILD_ARTIFACT_EXTENSION),.$(BUILD_ARTIFACT_EXTENSION),)

# All Target
all: main-build

# Main-build Target
main-build: firmware.elf

# Tool invocations
firmware.elf: ../linked.elf makefile $(OPTIONAL_TOOL_DEPS)
	@echo 'Building target: $@'
	cp ../linked.elf firmware.elf
	@echo 'Finished building target: $@'
	@echo ' '
	$(MAKE) --no-print-directory post-build

# Other Targets
clean:
	-$(RM) firmware.elf
	-@echo ' '

post-build:
	${post}
	-@echo ' '

.PHONY: all clean dependents main-build post-build

-include ../makefile.targets
")
  file(COPY_FILE ${GOOD_ELF} "${root}/linked.elf")
  run_in("${root}/Debug" rc out ${MAKE_PROGRAM} all)
  expect_success("${variant}" "${rc}" "${out}")
  expect_signed("${root}/Debug/firmware.elf")
  expect_signed_image("${root}/Debug/firmware.bin")

  file(COPY_FILE ${BAD_ELF} "${root}/linked.elf")
  file(TOUCH "${root}/linked.elf")
  foreach(attempt first second)
    run_in("${root}/Debug" rc out ${MAKE_PROGRAM} all)
    if(variant STREQUAL "targets")
      expect_failure("${variant}, ${attempt} time" "${rc}" "${out}")
      if(NOT out MATCHES "make: \\*\\*\\* .*Error")
        message(FATAL_ERROR "${variant}: no make error line:\n${out}")
      endif()
    elseif(NOT out MATCHES "(^|\n)Error: ")
      message(FATAL_ERROR "${variant}: no line starting \"Error:\":\n${out}")
    endif()
    expect_absent("${root}/Debug/firmware.elf" "${root}/Debug/firmware.bin" "${root}/Debug/firmware.hex")
  endforeach()
endforeach()
message(STATUS "eclipse: makefile.targets stops the build; the post-build line deletes the outputs")
