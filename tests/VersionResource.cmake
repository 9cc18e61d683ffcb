# The Windows executable carries a version resource with the project's version, description,
# copyright and original file name: its strings are UTF-16 in the PE resource section.
#   cmake -DEXE=<vortle.exe> -DVERSION=<x.y> [-DOBJDUMP=<objdump>] -P VersionResource.cmake
cmake_minimum_required(VERSION 3.25) # run by cmake -P: the policies are this version's
if(OBJDUMP)
  execute_process(COMMAND ${OBJDUMP} -h ${EXE} OUTPUT_VARIABLE headers RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT headers MATCHES "\\.rsrc")
    message(FATAL_ERROR "${EXE} has no resource section:\n${headers}")
  endif()
endif()
file(READ ${EXE} hex HEX)
function(utf16 text out)
  string(HEX "${text}" h)
  string(REGEX REPLACE "(..)" "\\100" h "${h}")
  set(${out} ${h} PARENT_SCOPE)
endfunction()
foreach(key_value "VS_VERSION_INFO" "FileVersion" "ProductVersion" "${VERSION}" "FileDescription"
                  "LegalCopyright" "OriginalFilename" "vortle.exe" "The Vortle Authors")
  utf16("${key_value}" want)
  string(FIND "${hex}" "${want}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${EXE}: no '${key_value}' in its version resource")
  endif()
endforeach()
message(STATUS "${EXE}: version resource ${VERSION}")
