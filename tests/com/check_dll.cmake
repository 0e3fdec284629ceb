# cmake -DOBJDUMP=... -DDLL=qv_VCard.dll -P check_dll.cmake
cmake_minimum_required(VERSION 3.25)
# The DLL exports exactly the five COM entry points by name, imports nothing
# but system DLLs (the C and C++ runtimes are linked in) and carries neither
# a link time nor widl's time of making its type library, so that the same
# sources give the same file.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(system kernel32.dll msvcrt.dll ole32.dll oleaut32.dll advapi32.dll user32.dll)
foreach(line IN LISTS imports)
  string(REPLACE "DLL Name: " "" name "${line}")
  string(TOLOWER "${name}" name)
  if(NOT name IN_LIST system)
    message(FATAL_ERROR "${DLL} imports ${name}, which is not a system DLL")
  endif()
  message(STATUS "imports ${name}")
endforeach()

# The export name table: one "[ n] Name" line per export, up to a blank line.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" table "${dump}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [A-Za-z_@0-9]+" exports "${table}")
list(TRANSFORM exports REPLACE "^\\[ *[0-9]+\\] " "")
list(SORT exports)
set(wanted DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer)
if(NOT exports STREQUAL wanted)
  message(FATAL_ERROR "${DLL} exports '${exports}', expected '${wanted}'")
endif()
message(STATUS "exports ${exports}")

# The file header's time stamp, and the export table's, are zero.
string(REGEX MATCHALL "Time/Date stamp[ \t]+[0-9a-fA-F]+|Time/Date\t+[^\n]+" stamps "${dump}")
if(NOT stamps)
  message(FATAL_ERROR "objdump shows no time stamps of ${DLL}")
endif()
foreach(stamp IN LISTS stamps)
  if(NOT stamp MATCHES "[ \t]0$" AND NOT stamp MATCHES "Jan  1 00:00:00 1970")
    message(FATAL_ERROR "${DLL} carries a time stamp: ${stamp}")
  endif()
endforeach()
message(STATUS "time stamps ${stamps}")

# widl's note in the type library names the fixed time, not when it ran.
file(STRINGS ${DLL} notes REGEX "Created by WIDL")
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT notes MATCHES " at Thu Jan  1 00:00:00 1970")
  message(FATAL_ERROR "${DLL}: the type library keeps the time it was made: '${notes}'")
endif()
message(STATUS "type library: ${notes}")
