# Shows that cmake/check_dll_exports.cmake refuses what it must: it passes the
# built DLL's own `objdump -p` output, then fails each copy of it that has one
# fault planted (a name missing, one too many, one twice, two out of order, a
# MinGW runtime DLL imported, the wrong machine, the wrong module name; for a
# DLL that imports another of the project's, that import gone, one of its
# names changed, one name more) with the message for that fault.
#   cmake -DOBJDUMP=<objdump> -DDLL=<dll> -DMACHINE=x86|x64 -DWORK_DIR=<dir>
#         -P export_check_test.cmake
cmake_minimum_required(VERSION 3.25)
set(check ${CMAKE_CURRENT_LIST_DIR}/../../cmake/check_dll_exports.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/dll_export_tables.cmake)

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed (${rc})")
endif()
get_filename_component(module ${DLL} NAME)

# Runs the check on `text`; `expect` is "" for a pass, else a piece of the
# message the check must fail with (plain text, not a pattern).
function(run_check label text expect)
  set(file ${WORK_DIR}/export_check_${label}.txt)
  file(WRITE ${file} "${text}")
  execute_process(COMMAND ${CMAKE_COMMAND} -DDUMP=${file} -DDLL=${DLL} -DMACHINE=${MACHINE}
                          -P ${check}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REGEX REPLACE "[ \t\n]+" " " out "${out}")  # CMake wraps its messages
  if(expect STREQUAL "")
    if(NOT rc EQUAL 0)
      message(SEND_ERROR "${label}: the check refused the DLL's own table: ${out}")
    endif()
  elseif(rc EQUAL 0)
    message(SEND_ERROR "${label}: the check passed a table with a fault planted")
  else()
    string(FIND "${out}" "${expect}" at)
    if(at LESS 0)
        message(SEND_ERROR "${label}: the check failed without saying \"${expect}\": ${out}")
    endif()
  endif()
endfunction()

# The name pointer table, its first two lines and where it ends.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(\t\\[[ 0-9]+\\] [^\n]+\n)+" table "${dump}")
string(REGEX MATCH "\t\\[ +0\\] ([^\n]+)\n" first "${table}")
set(first_name "${CMAKE_MATCH_1}")
string(REGEX MATCH "\t\\[ +1\\] ([^\n]+)\n" second "${table}")
set(second_name "${CMAKE_MATCH_1}")
if(table STREQUAL "" OR first STREQUAL "" OR second STREQUAL "")
  message(FATAL_ERROR "no name pointer table in the output of objdump -p")
endif()
string(REGEX MATCH "\t\\[ +[0-9]+\\] ([^\n]+)\n$" last "${table}")
set(last_name "${CMAKE_MATCH_1}")
function(with_table label new_table expect)
  string(REPLACE "${table}" "${new_table}" text "${dump}")
  run_check(${label} "${text}" "${expect}")
endfunction()

run_check(as_built "${dump}" "")

string(REPLACE "${second}" "" t "${table}")
with_table(missing "${t}" "missing export: ${second_name}")
with_table(extra "${table}\t[  99] zelk_planted\n" "unexpected export: zelk_planted")
with_table(twice "${table}\t[  99] ${last_name}\n" "an export name appears twice")
string(REPLACE "${first}${second}" "\t[   0] ${second_name}\n\t[   1] ${first_name}\n" t "${table}")
with_table(out_of_order "${t}" "name table out of order")

string(REGEX REPLACE "DLL Name: msvcrt\\.dll" "DLL Name: libgcc_s_seh-1.dll" t "${dump}")
run_check(runtime_import "${t}" "imports a non-system DLL: libgcc_s_seh-1.dll")
string(REGEX REPLACE "DLL Name: msvcrt\\.dll" "DLL Name: libstdc++-6.dll" t "${dump}")
run_check(runtime_import_2 "${t}" "imports a non-system DLL: libstdc")

if(MACHINE STREQUAL "x64")
  string(REPLACE "file format pei-x86-64" "file format pei-i386" t "${dump}")
else()
  string(REPLACE "file format pei-i386" "file format pei-x86-64" t "${dump}")
endif()
run_check(machine "${t}" "not an ${MACHINE} module")

string(REGEX REPLACE "(\nName[ \t]+[0-9a-fA-F]+ )${module}" "\\1other.dll" t "${dump}")
run_check(module_name "${t}" "export directory does not name the module")

# The imports from the project's other DLLs: the block of each is
# "DLL Name: <dependency>.dll", a heading line, then one line per name.
get_filename_component(module_stem ${DLL} NAME_WE)
foreach(dependency IN LISTS ZELK_DLL_DEPENDS_${module_stem})
  string(REGEX MATCH "DLL Name: ${dependency}\\.dll\n[^\n]*\n(\t[0-9a-fA-F]+\t +[0-9]+ +[^\n]+\n)+"
         block "${dump}")
  if(block STREQUAL "")
    message(FATAL_ERROR "no import block of ${dependency}.dll in the output of objdump -p")
  endif()
  string(REPLACE "DLL Name: ${dependency}.dll" "DLL Name: ${dependency}_d.dll" t "${dump}")
  run_check(${dependency}_import_gone "${t}" "does not import ${dependency}.dll")
  string(REGEX MATCH "\t[0-9a-fA-F]+\t +[0-9]+ +[^\n]+\n" line "${block}")
  string(REPLACE "\n" "_planted\n" planted "${line}")
  string(REPLACE "${line}" "${planted}" b "${block}")
  string(REPLACE "${block}" "${b}" t "${dump}")
  run_check(${dependency}_import_renamed "${t}" "imports from ${dependency}.dll:")
  string(REPLACE "${block}" "${block}\t9999\t   99  zelk_planted\n" t "${dump}")
  run_check(${dependency}_import_extra "${t}" "imports from ${dependency}.dll:")
endforeach()
