# Writes one section-1 man page, gzipped, with help2man from a program's --help and --version.
#   cmake -DHELP2MAN=... -DPROGRAM=... -DINCLUDE=<.h2m> -DOUTPUT=<page.1.gz> [-DCOMMANDS=ON] -P ManPage.cmake
# COMMANDS=ON adds a COMMANDS section made of "PROGRAM help COMMAND" for every command that
# "PROGRAM --help" lists, so the page describes each command as the tool itself does.
cmake_minimum_required(VERSION 3.25)
foreach(var HELP2MAN PROGRAM INCLUDE OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "ManPage.cmake: ${var} is not set")
  endif()
endforeach()

# Roff text from plain text: backslashes and minus signs escaped, no line taken for a request.
function(to_roff text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

get_filename_component(work "${OUTPUT}" DIRECTORY)
get_filename_component(page "${OUTPUT}" NAME_WLE)
set(include "${INCLUDE}")

if(COMMANDS)
  execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help failed (${rc})")
  endif()
  # The lines between "Commands" and the next empty line, e.g.
  # "  --port PATH [--port PATH]... info": the command is the first word that is not a --port.
  string(REGEX MATCH "\nCommands[^\n]*\n(([^\n]+\n)+)" block "${help}")
  string(REPLACE "\n" ";" lines "${CMAKE_MATCH_1}")
  set(section "[COMMANDS]\n")
  list(REMOVE_ITEM lines "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "\\[?--port PATH\\]?(\\.\\.\\.)?" "" line "${line}")
    string(STRIP "${line}" line)
    string(REGEX MATCH "^[a-z-]+" command "${line}")
    if(command STREQUAL "")
      message(FATAL_ERROR "no command in the --help line '${line}'")
    endif()
    execute_process(COMMAND "${PROGRAM}" help ${command} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${PROGRAM} help ${command} failed (${rc})")
    endif()
    # "Usage: lumitrax ...\n\nWhat it does...\nExample: ..."
    string(REGEX MATCH "^Usage: [^ ]+ ([^\n]*)\n\n(.*)\nExample: ([^\n]*)" ok "${text}")
    if(NOT ok)
      message(FATAL_ERROR "unexpected help text of '${command}':\n${text}")
    endif()
    to_roff("${CMAKE_MATCH_1}" usage)
    to_roff("${CMAKE_MATCH_2}" body)
    to_roff("${CMAKE_MATCH_3}" example)
    string(APPEND section ".TP\n.B ${usage}\n${body}\n.br\nExample: \\fB${example}\\fR\n")
  endforeach()
  file(READ "${INCLUDE}" fixed)
  set(include "${work}/${page}.h2m")
  file(WRITE "${include}" "${section}\n${fixed}")
endif()

execute_process(
  COMMAND "${HELP2MAN}" --no-info --section=1 --include=${include} --output=${work}/${page} "${PROGRAM}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${PROGRAM} (${rc})")
endif()
# Debian wants man pages compressed with gzip -9n (no name, no time stamp).
execute_process(COMMAND gzip -9nf "${work}/${page}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${work}/${page}")
endif()
