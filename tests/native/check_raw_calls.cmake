# No handle closed and no lock taken by hand: outside the owners (the
# templates of host/win32/handle.h and the guards of host/win32/locked.h), no
# source of the hosts, the tools, the tests or the benchmarks calls one of
# the functions below; the DLL's platform layer (src/platform/platform_win32.cpp)
# is the DLL's own set of owners, one function per primitive. Comments may
# name them. Names each file that calls one, with the calls.
#   cmake -DSOURCE_DIR=... -P check_raw_calls.cmake
#   cmake -DSOURCES=file;... -P check_raw_calls.cmake   (those files alone)
set(calls
  CloseHandle RegCloseKey LocalFree GlobalFree HeapFree FreeLibrary
  DestroyIcon DestroyMenu DestroyCursor DestroyAcceleratorTable
  DeleteObject DeleteDC ReleaseDC
  UnhookWinEvent UnhookWindowsHookEx UnregisterPowerSettingNotification
  FindClose CloseServiceHandle UnmapViewOfFile CloseDesktop CloseWindowStation
  AcquireSRWLockExclusive AcquireSRWLockShared ReleaseSRWLockExclusive ReleaseSRWLockShared
  TryAcquireSRWLockExclusive TryAcquireSRWLockShared SleepConditionVariableSRW
  EnterCriticalSection LeaveCriticalSection TryEnterCriticalSection)
list(JOIN calls " " call_names)

if(DEFINED SOURCES)
  set(sources ${SOURCES})
else()
  file(GLOB_RECURSE sources
    ${SOURCE_DIR}/host/*.cpp ${SOURCE_DIR}/host/*.h ${SOURCE_DIR}/tools/*.cpp ${SOURCE_DIR}/tools/*.h
    ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/tests/*.h ${SOURCE_DIR}/tests/*.c
    ${SOURCE_DIR}/bench/*.cpp ${SOURCE_DIR}/bench/*.h ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.h)
  list(REMOVE_ITEM sources ${SOURCE_DIR}/host/win32/handle.h ${SOURCE_DIR}/host/win32/locked.h
    ${SOURCE_DIR}/src/platform/platform_win32.cpp)
  list(LENGTH sources count)
  if(count LESS 20)
    message(FATAL_ERROR "found only ${count} sources under ${SOURCE_DIR}")
  endif()
endif()

list(JOIN calls "|" alternatives)
set(found "")
foreach(source IN LISTS sources)
  file(READ ${source} text)
  string(REGEX REPLACE "//[^\n]*" "" code "${text}")
  string(REGEX MATCHALL "[^A-Za-z0-9_](${alternatives})[ \t]*\\(" hits "\n${code}")
  if(hits)
    set(names "")
    foreach(hit IN LISTS hits)
      string(REGEX REPLACE "^[^A-Za-z0-9_](${alternatives}).*" "\\1" name "${hit}")
      list(APPEND names ${name})
    endforeach()
    list(REMOVE_DUPLICATES names)
    list(JOIN names ", " names)
    file(RELATIVE_PATH shown ${CMAKE_CURRENT_LIST_DIR}/../.. ${source})
    list(APPEND found "${shown}: ${names}")
  endif()
endforeach()
if(found)
  list(JOIN found "\n  " shown)
  message(FATAL_ERROR "closed or locked by hand, outside the owners of host/win32/handle.h and locked.h:\n  ${shown}\n"
    "(looked for: ${call_names})")
endif()
list(LENGTH sources count)
message(STATUS "${count} sources call none of: ${call_names}")
