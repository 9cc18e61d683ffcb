# The Zephyr module in integrations/zephyr, added with ZEPHYR_EXTRA_MODULES and turned on with
# CONFIG_VORTLE_SIGN=y in prj.conf, built by CMake and Ninja against a stand-in for Zephyr's
# build system that reproduces what the module depends on: the post-build properties are read
# inside find_package(Zephyr), where the modules are added; the post-build command has no
# VERBATIM; zephyr.bin (objcopy --gap-fill 0xff) and zephyr.hex are made before the
# extra_post_build_commands run. A second stand-in has the newer post_build_patch_elf_commands,
# which run before the images are made.
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
add_custom_command(TARGET zephyr_final POST_BUILD
  ${patch}
  COMMAND ${OBJCOPY} --gap-fill 0xff -O binary ${elf} ${ZEPHYR_BINARY_DIR}/${KERNEL_BIN_NAME}
  COMMAND ${OBJCOPY} -O ihex ${elf} ${ZEPHYR_BINARY_DIR}/${KERNEL_HEX_NAME}
  ${extra}
  WORKING_DIRECTORY ${ZEPHYR_BINARY_DIR})
]=])

set(app "${PROJECT}/app")
file(WRITE "${app}/CMakeLists.txt" "
cmake_minimum_required(VERSION 3.20)
find_package(Zephyr REQUIRED HINTS \"${base}\")
")
file(WRITE "${app}/prj.conf" "CONFIG_VORTLE_SIGN=y\n")

foreach(release 3.7 main)
  if(release STREQUAL "main")
    file(WRITE "${base}/CMakeLists.txt" "# uses post_build_patch_elf_commands\n")
  else()
    file(WRITE "${base}/CMakeLists.txt" "# extra_post_build_commands only\n")
  endif()
  set(build "${PROJECT}/build ${release}")
  set(out "${build}/zephyr")
  file(COPY_FILE ${GOOD_ELF} "${PROJECT}/linked.elf")
  run_in("${PROJECT}" rc log ${CMAKE_COMMAND} -S "${app}" -B "${build}" -G Ninja
         "-DZEPHYR_EXTRA_MODULES=${SOURCE}/integrations/zephyr" "-DLINKED_ELF=${PROJECT}/linked.elf"
         "-DOBJCOPY=${OBJCOPY}" "-DVORTLE_EXECUTABLE=${VORTLE}")
  expect_success("${release}: configure" "${rc}" "${log}")
  run_in("${PROJECT}" rc log ${CMAKE_COMMAND} --build "${build}")
  expect_success("${release}: build" "${rc}" "${log}")
  expect_signed("${out}/zephyr.elf")
  expect_signed("${out}/zephyr.hex")
  expect_signed_image("${out}/zephyr.bin")
  # Zephyr's own images, as its objcopy makes them from the signed ELF file (gap fill kept).
  execute_process(COMMAND ${OBJCOPY} --gap-fill 0xff -O binary "${out}/zephyr.elf" "${WORK}/ref.bin")
  execute_process(COMMAND ${OBJCOPY} -O ihex "${out}/zephyr.elf" "${WORK}/ref.hex")
  foreach(ext bin hex)
    file(SHA256 "${WORK}/ref.${ext}" want)
    file(SHA256 "${out}/zephyr.${ext}" got)
    if(NOT want STREQUAL got)
      message(FATAL_ERROR "${release}: zephyr.${ext} is not Zephyr's image of the signed ELF")
    endif()
  endforeach()

  file(COPY_FILE ${BAD_ELF} "${PROJECT}/linked.elf")
  file(TOUCH "${PROJECT}/linked.elf")
  foreach(attempt first second)
    run_in("${PROJECT}" rc log ${CMAKE_COMMAND} --build "${build}")
    expect_failure("${release}: build, ${attempt} time" "${rc}" "${log}")
    expect_absent("${out}/zephyr.elf" "${out}/zephyr.bin" "${out}/zephyr.hex")
  endforeach()
endforeach()
message(STATUS "zephyr module: signed with both releases' properties; a refused firmware fails every build")
