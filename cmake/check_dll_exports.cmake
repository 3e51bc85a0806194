# Checks a DLL of the project with objdump -p: a module for the given machine
# whose export table holds exactly the names hosts of that machine look up
# (cmake/dll_export_tables.cmake), in the order the loader searches them, and
# which imports only DLLs that every Windows installation has (no MinGW
# runtime beside it).
#   cmake -DOBJDUMP=<objdump> -DDLL=<module>.dll -DMACHINE=x86|x64 [-DDELETE_ON_FAILURE=ON]
#         -P check_dll_exports.cmake
# With -DDUMP=<file> the output of objdump -p is read from that file instead
# (DLL then only names the module), which is how the check itself is tested.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/dll_export_tables.cmake)

# Case-insensitive, as Windows compares module names.
set(system_dll_pattern "^(kernel32|msvcrt|ntdll|api-ms-win-crt-[a-z0-9-]+)\\.dll$")

foreach(var DLL MACHINE)
  if(NOT ${var})
    message(FATAL_ERROR "check_dll_exports: -D${var}=... is required")
  endif()
endforeach()
if(NOT OBJDUMP AND NOT DUMP)
  message(FATAL_ERROR "check_dll_exports: -DOBJDUMP=... is required")
endif()
get_filename_component(module ${DLL} NAME_WE)
set(table_name ZELK_EXPORTS_${module}_${MACHINE})
if(NOT DEFINED ${table_name})
  message(FATAL_ERROR "check_dll_exports: no export table ${table_name}")
endif()
set(expected_exports ${${table_name}})
set(file_format_x86 "pei-i386")
set(file_format_x64 "pei-x86-64")
if(DUMP)
  file(READ ${DUMP} dump)
else()
  execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "check_dll_exports: ${OBJDUMP} -p ${DLL} failed (${rc})")
  endif()
endif()

# Square brackets would confuse CMake's list handling; objdump writes them
# around every index and no exported name contains one.
string(REPLACE "[" "<" dump "${dump}")
string(REPLACE "]" ">" dump "${dump}")

set(problems "")
if(NOT dump MATCHES "file format ${file_format_${MACHINE}}\n")
  string(APPEND problems "  not an ${MACHINE} module (${file_format_${MACHINE}})\n")
endif()
if(NOT dump MATCHES "\nName[ \t]+[0-9a-fA-F]+ ${module}\\.dll\n")
  string(APPEND problems "  export directory does not name the module ${module}.dll\n")
endif()

# Export names: the lines "\t<   0> name" of the name pointer table.
set(exports "")
string(REGEX MATCH "<Ordinal/Name Pointer> Table\n(\t<[ 0-9]+> [^\n]+\n)*" table "${dump}")
string(REGEX MATCHALL "\t<[ 0-9]+> [^\n]+" lines "${table}")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^\t<[ 0-9]+> " "" name "${line}")
  list(APPEND exports "${name}")
endforeach()
foreach(name IN LISTS expected_exports)
  list(FIND exports "${name}" at)
  if(at LESS 0)
    string(APPEND problems "  missing export: ${name}\n")
  endif()
endforeach()
foreach(name IN LISTS exports)
  list(FIND expected_exports "${name}" at)
  if(at LESS 0)
    string(APPEND problems "  unexpected export: ${name}\n")
  endif()
endforeach()
# The loader looks names up by halving the table, so it must be in byte order.
set(previous "")
foreach(name IN LISTS exports)
  if(previous AND NOT previous STRLESS name)
    string(APPEND problems "  name table out of order: ${previous} before ${name}\n")
  endif()
  set(previous "${name}")
endforeach()
list(LENGTH exports export_count)
list(REMOVE_DUPLICATES exports)
list(LENGTH exports unique_count)
if(NOT export_count EQUAL unique_count)
  string(APPEND problems "  an export name appears twice\n")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(line IN LISTS imports)
  string(SUBSTRING "${line}" 10 -1 dll)
  string(TOLOWER "${dll}" dll_lower)
  if(NOT dll_lower MATCHES "${system_dll_pattern}")
    string(APPEND problems "  imports a non-system DLL: ${dll}\n")
  endif()
endforeach()

if(problems)
  if(DELETE_ON_FAILURE)  # as a step of the link: leave no DLL that looks built
    file(REMOVE ${DLL})
  endif()
  message(FATAL_ERROR "${DLL} fails the export check:\n${problems}")
endif()
message(STATUS "${DLL}: ${export_count} exports as expected, imports only system DLLs")
