# Checks a DLL of the project with objdump -p: a module for the given machine
# whose export table holds exactly the names hosts of that machine look up
# (cmake/dll_export_tables.cmake), in the order the loader searches them;
# which imports from the project's other DLLs exactly the names its table
# lists (by the names those DLLs export on that machine), and otherwise only
# DLLs that every Windows installation has (no MinGW runtime beside it).
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

# Imports: one block per DLL, "DLL Name: x", a heading line, then one
# "\t<vma>\t <hint>  <name>" line per name imported by name.
set(depends ${ZELK_DLL_DEPENDS_${module}})
foreach(dependency IN LISTS depends)
  set(table_name ZELK_IMPORTS_${module}_${dependency}_${MACHINE})
  if(NOT DEFINED ${table_name})
    message(FATAL_ERROR "check_dll_exports: no import table ${table_name}")
  endif()
  set(imported_${dependency} "")
  set(found_${dependency} FALSE)
endforeach()
string(REGEX MATCHALL "DLL Name: [^\n]+\n[^\n]*\n(\t[0-9a-fA-F]+\t +[0-9]+ +[^\n]+\n)*"
       blocks "${dump}")
foreach(block IN LISTS blocks)
  string(REGEX MATCH "DLL Name: ([^\n]+)" _ "${block}")
  set(dll "${CMAKE_MATCH_1}")
  string(TOLOWER "${dll}" dll_lower)
  string(REGEX REPLACE "\\.dll$" "" dependency "${dll_lower}")
  if(dependency IN_LIST depends)
    set(found_${dependency} TRUE)
    string(REGEX MATCHALL "\t[0-9a-fA-F]+\t +[0-9]+ +[^\n]+" entries "${block}")
    foreach(entry IN LISTS entries)
      string(REGEX REPLACE "^\t[0-9a-fA-F]+\t +[0-9]+ +" "" name "${entry}")
      list(APPEND imported_${dependency} "${name}")
    endforeach()
  elseif(NOT dll_lower MATCHES "${system_dll_pattern}")
    string(APPEND problems "  imports a non-system DLL: ${dll}\n")
  endif()
endforeach()
set(import_summary "")
foreach(dependency IN LISTS depends)
  set(expected_imports ${ZELK_IMPORTS_${module}_${dependency}_${MACHINE}})
  foreach(name IN LISTS expected_imports)  # the tables must agree with each other
    if(NOT name IN_LIST ZELK_EXPORTS_${dependency}_${MACHINE})
      message(FATAL_ERROR "check_dll_exports: ZELK_IMPORTS_${module}_${dependency}_${MACHINE} "
                          "lists ${name}, which ${dependency}.dll does not export on ${MACHINE}")
    endif()
  endforeach()
  list(SORT expected_imports)
  set(got ${imported_${dependency}})
  list(SORT got)
  if(NOT found_${dependency})
    string(APPEND problems "  does not import ${dependency}.dll\n")
  elseif(NOT got STREQUAL expected_imports)
    string(APPEND problems "  imports from ${dependency}.dll: ${got}\n"
                           "    expected ${expected_imports}\n")
  endif()
  list(JOIN got ", " got)
  string(APPEND import_summary "${got} from ${dependency}.dll and otherwise ")
endforeach()

if(problems)
  if(DELETE_ON_FAILURE)  # as a step of the link: leave no DLL that looks built
    file(REMOVE ${DLL})
  endif()
  message(FATAL_ERROR "${DLL} fails the export check:\n${problems}")
endif()
message(STATUS "${DLL}: ${export_count} exports as expected, imports ${import_summary}"
               "only system DLLs")
