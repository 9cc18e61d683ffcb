# vector_sum(<file> <offset> <out>): the sum of the eight little-endian words at offset in
# file, 0 for a signed vector table.
cmake_minimum_required(VERSION 3.25) # run by cmake -P: the policies are this version's
function(vector_sum file offset out)
  file(READ "${file}" hex OFFSET ${offset} LIMIT 32 HEX)
  set(sum 0)
  foreach(w RANGE 0 7)
    math(EXPR at "${w} * 8")
    set(word "")
    foreach(b 3 2 1 0)
      math(EXPR p "${at} + ${b} * 2")
      string(SUBSTRING ${hex} ${p} 2 byte)
      string(APPEND word ${byte})
    endforeach()
    math(EXPR sum "(${sum} + 0x${word}) & 0xFFFFFFFF")
  endforeach()
  set(${out} ${sum} PARENT_SCOPE)
endfunction()
