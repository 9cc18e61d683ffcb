# The Zephyr module in integrations/zephyr, added with ZEPHYR_EXTRA_MODULES and turned on with
# CONFIG_VORTLE_SIGN=y in prj.conf, built by CMake and Ninja against a stand-in for Zephyr's
# build system that reproduces what the module depends on: the post-build properties are read
# inside find_package(Zephyr), where the modules are added; the post-build command has no
# VERBATIM and runs the module's real step script under cmake -P; zephyr.bin (objcopy
# --gap-fill 0xff), zephyr.hex and, on request, zephyr.strip and zephyr.s19 are made before the
# extra_post_build_commands run. A second stand-in has the newer post_build_patch_elf_commands,
# which run before the images are made. Each documented configuration is built with both.
cmake_minimum_required(VERSION 3.25) # run by cmake -P: the policies are this version's
include(${CMAKE_CURRENT_LIST_DIR}/Common.cmake)
find_program(OBJCOPY arm-none-eabi-objcopy REQUIRED)
find_program(NINJA ninja REQUIRED)

# Zephyr's own commands (no VERBATIM) take a blank in the path, not a parenthesis.
set(PROJECT "${WORK}/zephyr project")
set(base "${WORK}/zephyr base")
file(WRITE "${base}/share/zephyr-package/cmake/ZephyrConfig.cmake" [=[
# Stand-in for Zephyr's CMake package (see the test's header).
project(zephyr-standin NONE)
set(ZEPHYR_BASE ${CMAKE_CURRENT_LIST_DIR}/../../..)
set(ZEPHYR_BINARY_DIR ${CMAKE_BINARY_DIR}/zephyr)
set(KERNEL_ELF_NAME zephyr.elf)
set(KERNEL_BIN_NAME zephyr.bin)
set(KERNEL_HEX_NAME zephyr.hex)
set(KERNEL_STRIP_NAME zephyr.strip)
set(KERNEL_S19_NAME zephyr.s19)
file(MAKE_DIRECTORY ${ZEPHYR_BINARY_DIR})
# Kconfig: prj.conf's settings become CONFIG_ variables.
file(STRINGS ${CMAKE_SOURCE_DIR}/prj.conf conf REGEX "^CONFIG_")
foreach(line IN LISTS conf)
  if(line MATCHES "^(CONFIG_[A-Za-z0-9_]+)=\"?([^\"]*)\"?$")
    set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  endif()
endforeach()
# The modules, with the build.cmake folder their zephyr/module.yml names.
foreach(module IN LISTS ZEPHYR_EXTRA_MODULES)
  file(STRINGS ${module}/zephyr/module.yml sub REGEX "^ *cmake:")
  string(REGEX REPLACE "^ *cmake: *" "" sub "${sub}")
  get_filename_component(name ${module} NAME)
  add_subdirectory(${module}/${sub} ${CMAKE_BINARY_DIR}/modules/${name})
endforeach()
# The final link: a linked firmware copied into place.
set(elf ${ZEPHYR_BINARY_DIR}/${KERNEL_ELF_NAME})
add_custom_command(OUTPUT ${elf} COMMAND ${CMAKE_COMMAND} -E copy ${LINKED_ELF} ${elf}
                   DEPENDS ${LINKED_ELF} VERBATIM)
add_custom_target(zephyr_final ALL DEPENDS ${elf})
# The post-build steps, read now, without VERBATIM.
get_property(patch GLOBAL PROPERTY post_build_patch_elf_commands)
get_property(extra GLOBAL PROPERTY extra_post_build_commands)
file(STRINGS ${ZEPHYR_BASE}/CMakeLists.txt has_patch REGEX post_build_patch_elf_commands)
if(NOT has_patch)
  set(patch "")
endif()
set(optional "")
if(CONFIG_BUILD_OUTPUT_STRIPPED)
  list(APPEND optional COMMAND ${OBJCOPY} --strip-all ${elf} ${ZEPHYR_BINARY_DIR}/${KERNEL_STRIP_NAME})
endif()
if(CONFIG_BUILD_OUTPUT_S19)
  # As Zephyr names it, from its binary folder: the S0 record holds the name.
  list(APPEND optional COMMAND ${OBJCOPY} -O srec ${KERNEL_ELF_NAME} ${KERNEL_S19_NAME})
endif()
add_custom_command(TARGET zephyr_final POST_BUILD
  ${patch}
  COMMAND ${OBJCOPY} --gap-fill 0xff -O binary ${elf} ${ZEPHYR_BINARY_DIR}/${KERNEL_BIN_NAME}
  COMMAND ${OBJCOPY} -O ihex ${elf} ${ZEPHYR_BINARY_DIR}/${KERNEL_HEX_NAME}
  ${optional}
  ${extra}
  WORKING_DIRECTORY ${ZEPHYR_BINARY_DIR})
]=])

set(app "${PROJECT}/app")
file(WRITE "${app}/CMakeLists.txt" "
cmake_minimum_required(VERSION 3.20)
find_package(Zephyr REQUIRED HINTS \"${base}\")
")
# The firmware of an application behind a bootloader: linked at 0x2000.
set(OFFSET_ELF "${WORK}/blinky-0x2000.elf")
execute_process(COMMAND ${OBJCOPY} --change-addresses 0x2000 ${GOOD_ELF} ${OFFSET_ELF}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objcopy could not move the firmware to 0x2000")
endif()

# The prj.conf lines of docs/recipes.md for an application behind a bootloader, as they stand.
doc_block(${SOURCE}/docs/recipes.md "## Zephyr" "```" 1 documented)
string(REPLACE "\n" "|" documented "${documented}")
# The documented configurations, fields parted by "^": the name, prj.conf's lines beside
# CONFIG_VORTLE_SIGN=y ("|" parts them), the linked firmware, the words VERIFY needs for the
# files that keep load addresses, and what the build does.
set(configs
  "defaults^^${GOOD_ELF}^^signs"
  "behind a bootloader^CONFIG_FLASH_LOAD_OFFSET=0x2000|${documented}^${OFFSET_ELF}^BA(0x2000)^signs"
  "CRP3 accepted^CONFIG_VORTLE_ARGS=\"CRP3\"^${BAD_ELF}^CRP3^signs"
  "stripped output^CONFIG_BUILD_OUTPUT_STRIPPED=y^${GOOD_ELF}^^signs"
  "S-records^CONFIG_BUILD_OUTPUT_S19=y^${GOOD_ELF}^^signs"
  "S-records behind a bootloader^CONFIG_BUILD_OUTPUT_S19=y|${documented}^${OFFSET_ELF}^BA(0x2000)^signs"
  "refused firmware^^${BAD_ELF}^^fails")
foreach(release 3.7 main)
  if(release STREQUAL "main")
    file(WRITE "${base}/CMakeLists.txt" "# uses post_build_patch_elf_commands\n")
  else()
    file(WRITE "${base}/CMakeLists.txt" "# extra_post_build_commands only\n")
  endif()
  set(n 0)
  foreach(config IN LISTS configs)
    string(REPLACE "^" ";" c "${config}")
    list(GET c 0 name)
    list(GET c 1 lines)
    list(GET c 2 linked)
    list(GET c 3 words)
    list(GET c 4 outcome)
    string(REPLACE "|" "\n" lines "${lines}")
    set(conf "CONFIG_VORTLE_SIGN=y\n${lines}\n")
    set(what "${release}, ${name}")
    math(EXPR n "${n} + 1")
    set(build "${PROJECT}/build ${release} ${n}")
    set(out "${build}/zephyr")
    file(WRITE "${app}/prj.conf" "${conf}")
    file(COPY_FILE "${linked}" "${PROJECT}/linked.elf")
    run_in("${PROJECT}" rc log ${CMAKE_COMMAND} -S "${app}" -B "${build}" -G Ninja
           "-DZEPHYR_EXTRA_MODULES=${SOURCE}/integrations/zephyr"
           "-DLINKED_ELF=${PROJECT}/linked.elf" "-DOBJCOPY=${OBJCOPY}"
           "-DVORTLE_EXECUTABLE=${VORTLE}")
    expect_success("${what}: configure" "${rc}" "${log}")
    if(log MATCHES "CMP0054")
      message(FATAL_ERROR "${what}: a policy warning:\n${log}")
    endif()
    if(outcome STREQUAL "fails")
      foreach(attempt first second)
        run_in("${PROJECT}" rc log ${CMAKE_COMMAND} --build "${build}")
        expect_failure("${what}: build, ${attempt} time" "${rc}" "${log}")
        expect_absent("${out}/zephyr.elf" "${out}/zephyr.bin" "${out}/zephyr.hex")
        # The tool's report shows in the build log (QUIET prints it when the run fails).
        if(NOT log MATCHES "Fatal-Error|Code Read Protection")
          message(FATAL_ERROR "${what}: the build log lacks the tool's report:\n${log}")
        endif()
      endforeach()
      continue()
    endif()
    run_in("${PROJECT}" rc log ${CMAKE_COMMAND} --build "${build}")
    expect_success("${what}: build" "${rc}" "${log}")
    if(log MATCHES "Signature Creator|CMP0054")
      message(FATAL_ERROR "${what}: a build that signs shows the tool's lines or a warning:\n${log}")
    endif()
    expect_signed("${out}/zephyr.elf" ${words})
    expect_signed("${out}/zephyr.hex" ${words})
    expect_signed_image("${out}/zephyr.bin")
    if(conf MATCHES "STRIPPED")
      expect_signed("${out}/zephyr.strip" ${words})
    endif()
    if(conf MATCHES "S19")
      expect_signed("${out}/zephyr.s19" ${words})
      # Zephyr's S-records of the signed ELF file: only the signature's digits were rewritten.
      file(MAKE_DIRECTORY "${WORK}/ref")
      execute_process(COMMAND ${OBJCOPY} -O srec "${out}/zephyr.elf" zephyr.s19
                      WORKING_DIRECTORY "${WORK}/ref")
      file(SHA256 "${WORK}/ref/zephyr.s19" want)
      file(SHA256 "${out}/zephyr.s19" got)
      if(NOT want STREQUAL got)
        message(FATAL_ERROR "${what}: zephyr.s19 is not objcopy's S-records of the signed ELF")
      endif()
    endif()
    # Zephyr's own images, as its objcopy makes them from the signed ELF file (gap fill kept).
    execute_process(COMMAND ${OBJCOPY} --gap-fill 0xff -O binary "${out}/zephyr.elf" "${WORK}/ref.bin")
    execute_process(COMMAND ${OBJCOPY} -O ihex "${out}/zephyr.elf" "${WORK}/ref.hex")
    foreach(ext bin hex)
      file(SHA256 "${WORK}/ref.${ext}" want)
      file(SHA256 "${out}/zephyr.${ext}" got)
      if(NOT want STREQUAL got)
        message(FATAL_ERROR "${what}: zephyr.${ext} is not Zephyr's image of the signed ELF")
      endif()
    endforeach()
  endforeach()
endforeach()
message(STATUS "zephyr module: every documented configuration with both releases' properties; a refused firmware fails every build and shows why")
