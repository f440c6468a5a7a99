# The hosts as they ship (the build's files are the ones the zip and both
# installers carry): stripped, and within their sizes. Prints each size.
#   cmake -DMJTRAY=... -DMJCTL=... -P check_shipped_sizes.cmake
set(limit_mjtray 131072)  # 128 KiB
set(limit_mjctl 98304)    # 96 KiB

# A little-endian number of `bytes` bytes at `offset` of file.
function(read_le file offset bytes out)
  file(READ ${file} hex OFFSET ${offset} LIMIT ${bytes} HEX)
  set(value 0)
  math(EXPR last "${bytes} - 1")
  foreach(i RANGE ${last} 0 -1)
    math(EXPR at "${i} * 2")
    string(SUBSTRING ${hex} ${at} 2 byte)
    math(EXPR value "${value} * 256 + 0x${byte}")
  endforeach()
  set(${out} ${value} PARENT_SCOPE)
endfunction()

set(failed "")
foreach(name mjtray mjctl)
  string(TOUPPER ${name} var)
  set(file ${${var}})
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "no ${name}.exe at '${file}'")
  endif()
  file(SIZE ${file} size)
  math(EXPR kib "${size} / 1024")
  math(EXPR limit_kib "${limit_${name}} / 1024")
  message(STATUS "${name}.exe: ${size} bytes (${kib} KiB; at most ${limit_kib} KiB)")
  if(size GREATER limit_${name})
    list(APPEND failed "${name}.exe is ${size} bytes, over ${limit_${name}}")
  endif()
  # Stripped: the COFF header (after "PE\0\0" at the offset e_lfanew gives)
  # names no symbol table.
  read_le(${file} 60 4 pe)
  math(EXPR symbols_at "${pe} + 4 + 12")
  read_le(${file} ${symbols_at} 4 symbols)
  if(NOT symbols EQUAL 0)
    list(APPEND failed "${name}.exe is not stripped (${symbols} symbols)")
  endif()
endforeach()
if(failed)
  list(JOIN failed "\n  " text)
  message(FATAL_ERROR "The shipped hosts:\n  ${text}")
endif()
