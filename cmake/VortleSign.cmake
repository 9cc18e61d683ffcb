# vortle_sign(<target> [BINARY [<image>]] [HEX [<image>]] [BASEADDRESS <address>] [CRP3])
#
# Adds the post-build step that signs the firmware executable <target> in place. With BINARY
# it also writes the binary image: by default next to the executable, named like it with the
# extension BIN, or <image> (relative names are taken from the current binary folder). HEX
# writes the Intel HEX image the same way, by default with the extension HEX, in upper case
# as the tool derives it (blinky.BIN, blinky.HEX); name the images for other spellings:
# vortle_sign(blinky BINARY blinky.bin HEX blinky.hex). The images are declared as byproducts
# of the build. When the tool refuses the firmware, the build fails and the executable and its
# images are deleted, whatever the generator. CRP3 accepts a code read protection word of level CRP3,
# which locks the part for good; without it such a build fails. BASEADDRESS moves the signed range, for an
# application linked behind a bootloader (decimal, or hexadecimal with 0x).
#
# vortle_verify(<target> [BINARY [<image>]] [HEX [<image>]] [BASEADDRESS <address>] [CRP3])
#
# Adds the test vortle.verify.<target> (run by ctest) that checks, without changing anything,
# that the built <target> is signed and, with BINARY, that its image holds exactly the bytes
# that signing writes (the same for HEX). Give it the same arguments as vortle_sign().

set(_VORTLE_STEP "${CMAKE_CURRENT_LIST_DIR}/VortleStep.cmake")

# The tool's arguments for <target> and the options in ARGN, into <args_var>; the image files
# into <byproducts_var>.
function(_vortle_arguments fn target args_var byproducts_var)
  if(NOT TARGET ${target})
    message(FATAL_ERROR "${fn}: no target named '${target}'")
  endif()
  set(args "$<TARGET_FILE:${target}>")
  set(byproducts "")
  set(rest ${ARGN})
  while(rest)
    list(POP_FRONT rest word)
    if(word STREQUAL "BINARY" OR word STREQUAL "HEX")
      list(LENGTH rest left)
      set(image "")
      if(left GREATER 0)
        list(GET rest 0 next)
        if(NOT next MATCHES "^(BASEADDRESS|BINARY|HEX|CRP3)$")
          list(POP_FRONT rest image)
        endif()
      endif()
      if(word STREQUAL "BINARY")
        set(ext BIN)
      else()
        set(ext HEX)
      endif()
      if(image STREQUAL "")
        # The tool names the image like the executable, with the extension BIN or HEX.
        get_target_property(dir ${target} RUNTIME_OUTPUT_DIRECTORY)
        if(NOT dir)
          get_target_property(dir ${target} BINARY_DIR)
        endif()
        get_target_property(name ${target} OUTPUT_NAME)
        if(NOT name)
          set(name ${target})
        endif()
        list(APPEND args "${word}")
        list(APPEND byproducts "${dir}/${name}.${ext}")
      else()
        cmake_path(ABSOLUTE_PATH image BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}")
        cmake_path(GET image PARENT_PATH folder)
        file(MAKE_DIRECTORY "${folder}")
        # In double quotes the name is taken whole, whatever the folders hold; a double quote
        # in it is doubled.
        string(REPLACE "\"" "\"\"" quoted "${image}")
        list(APPEND args "${ext}(\"${quoted}\")")
        list(APPEND byproducts "${image}")
      endif()
    elseif(word STREQUAL "CRP3")
      list(APPEND args "CRP3")
    elseif(word STREQUAL "BASEADDRESS")
      list(LENGTH rest left)
      if(left EQUAL 0)
        message(FATAL_ERROR "${fn}: BASEADDRESS needs an address")
      endif()
      list(POP_FRONT rest address)
      list(APPEND args "BA(${address})")
    else()
      message(FATAL_ERROR "${fn}: unexpected argument '${word}'")
    endif()
  endwhile()
  set(${args_var} "${args}" PARENT_SCOPE)
  set(${byproducts_var} "${byproducts}" PARENT_SCOPE)
endfunction()

function(vortle_sign target)
  _vortle_arguments(vortle_sign ${target} args byproducts ${ARGN})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} "-DVORTLE=$<TARGET_FILE:vortle::vortle>" "-DARGS=${args}"
            "-DREMOVE=$<TARGET_FILE:${target}>;${byproducts}" -P "${_VORTLE_STEP}"
    BYPRODUCTS ${byproducts}
    COMMENT "Signing ${target}"
    VERBATIM)
endfunction()

function(vortle_verify target)
  _vortle_arguments(vortle_verify ${target} args byproducts ${ARGN})
  add_test(NAME vortle.verify.${target} COMMAND vortle::vortle ${args} VERIFY)
endfunction()
