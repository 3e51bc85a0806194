# Checks zelk_voice_rtp.dll with objdump -p: a 32-bit module whose export
# table holds exactly the decorated names 32-bit hosts look up, in the order
# the loader searches them; which imports the engine from zelk_voice_engine.dll
# by the engine's own exported names, and otherwise only DLLs that every
# Windows installation has.
#   cmake -DOBJDUMP=<objdump> -DDLL=<zelk_voice_rtp.dll> [-DDELETE_ON_FAILURE=ON]
#         -P check_rtp_dll_exports.cmake
cmake_minimum_required(VERSION 3.25)

set(expected_exports
    "_ZELK_RTP_AlawToUlaw@16"
    "_ZELK_RTP_ConcealLoss@20"
    "_ZELK_RTP_DecodePayload@28"
    "_ZELK_RTP_EncodePayload@28"
    "_ZELK_RTP_FrameToPayload@28"
    "_ZELK_RTP_LoadRecord@16"
    "_ZELK_RTP_PayloadBytes@8"
    "_ZELK_RTP_PayloadSamples@8"
    "_ZELK_RTP_PayloadToFrame@28"
    "_ZELK_RTP_ReceiveFrame@28"
    "_ZELK_RTP_ReceivePayload@28"
    "_ZELK_RTP_ReceiverReset@12"
    "_ZELK_RTP_SaveRecord@20"
    "_ZELK_RTP_UlawToAlaw@16")
# What the component calls of the engine, by the names the engine exports.
set(expected_engine_imports
    "_ZELK_VOICE_DecReset@8"
    "_ZELK_VOICE_DecodeFrame@20"
    "_ZELK_VOICE_EncodeFrame@20")
# Case-insensitive, as Windows compares module names.
set(system_dll_pattern "^(kernel32|msvcrt|ntdll|api-ms-win-crt-[a-z0-9-]+)\\.dll$")

foreach(var OBJDUMP DLL)
  if(NOT ${var})
    message(FATAL_ERROR "check_rtp_dll_exports: -D${var}=... is required")
  endif()
endforeach()
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_rtp_dll_exports: ${OBJDUMP} -p ${DLL} failed (${rc})")
endif()
# Square brackets would confuse CMake's list handling.
string(REPLACE "[" "<" dump "${dump}")
string(REPLACE "]" ">" dump "${dump}")

set(problems "")
if(NOT dump MATCHES "file format pei-i386")
  string(APPEND problems "  not a 32-bit x86 module\n")
endif()
if(NOT dump MATCHES "\nName[ \t]+[0-9a-fA-F]+ zelk_voice_rtp\\.dll\n")
  string(APPEND problems "  export directory does not name the module zelk_voice_rtp.dll\n")
endif()

# Export names: the lines "\t<   0> name" of the name pointer table, which
# must be the expected list in byte order (the expected list is sorted).
set(exports "")
string(REGEX MATCH "<Ordinal/Name Pointer> Table\n(\t<[ 0-9]+> [^\n]+\n)*" table "${dump}")
string(REGEX MATCHALL "\t<[ 0-9]+> [^\n]+" lines "${table}")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^\t<[ 0-9]+> " "" name "${line}")
  list(APPEND exports "${name}")
endforeach()
if(NOT exports STREQUAL expected_exports)
  string(APPEND problems "  export names (in table order):\n    got      ${exports}\n"
                         "    expected ${expected_exports}\n")
endif()

# Imports: one block per DLL, "DLL Name: x" followed by "\t<hint>\t<name>" lines.
string(REGEX MATCHALL "DLL Name: [^\n]+\n[^\n]*\n(\t[0-9a-fA-F]+\t +[0-9]+ +[^\n]+\n)*"
       blocks "${dump}")
set(engine_imports "")
set(found_engine FALSE)
foreach(block IN LISTS blocks)
  string(REGEX MATCH "DLL Name: ([^\n]+)" _ "${block}")
  set(dll "${CMAKE_MATCH_1}")
  string(TOLOWER "${dll}" dll_lower)
  if(dll_lower STREQUAL "zelk_voice_engine.dll")
    set(found_engine TRUE)
    string(REGEX MATCHALL "\t[0-9a-fA-F]+\t +[0-9]+ +[^\n]+" entries "${block}")
    foreach(entry IN LISTS entries)
      string(REGEX REPLACE "^\t[0-9a-fA-F]+\t +[0-9]+ +" "" name "${entry}")
      list(APPEND engine_imports "${name}")
    endforeach()
  elseif(NOT dll_lower MATCHES "${system_dll_pattern}")
    string(APPEND problems "  imports a non-system DLL: ${dll}\n")
  endif()
endforeach()
list(SORT engine_imports)
if(NOT found_engine)
  string(APPEND problems "  does not import zelk_voice_engine.dll\n")
elseif(NOT engine_imports STREQUAL expected_engine_imports)
  string(APPEND problems "  imports from zelk_voice_engine.dll: ${engine_imports}\n"
                         "    expected ${expected_engine_imports}\n")
endif()

if(problems)
  if(DELETE_ON_FAILURE)  # as a step of the link: leave no DLL that looks built
    file(REMOVE ${DLL})
  endif()
  message(FATAL_ERROR "${DLL} fails the export check:\n${problems}")
endif()
list(LENGTH exports export_count)
message(STATUS "${DLL}: ${export_count} exports as expected; imports ${engine_imports} "
               "from zelk_voice_engine.dll and otherwise only system DLLs")
