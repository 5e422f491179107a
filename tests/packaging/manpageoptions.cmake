# Checks that a program's --help and its manual page name the same options.
#   cmake -DPROGRAM=path/to/program -DPAGE=path/to/page.1 -P manpageoptions.cmake
# An option is a word starting with - or -- (e.g. -h, --max-clients, -platform)
# after a blank, a comma or a bracket; the page's roff \- count as dashes.

# Prints every option named in TEXT into OUT, sorted, once each.
function(options_in text out)
  string(REGEX MATCHALL "[ \t\n,([]--?[a-z][a-z0-9-]*" found "\n${text}")
  set(names)
  foreach(match IN LISTS found)
    string(SUBSTRING "${match}" 1 -1 name)
    list(APPEND names "${name}")
  endforeach()
  list(REMOVE_DUPLICATES names)
  list(SORT names)
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

execute_process(COMMAND "${PROGRAM}" --help TIMEOUT 20
  OUTPUT_VARIABLE help ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help ended with ${status}: ${errors}")
endif()
file(READ "${PAGE}" page)
string(REPLACE "\\-" "-" page "${page}")
# Roff requests (.TH, .B, .BI ...) are no options; their arguments are.
string(REGEX REPLACE "(^|\n)\\.[A-Za-z]+" "\\1" page "${page}")

options_in("${help}" in_help)
options_in("${page}" in_page)
set(missing_in_page ${in_help})
list(REMOVE_ITEM missing_in_page ${in_page})
set(missing_in_help ${in_page})
list(REMOVE_ITEM missing_in_help ${in_help})
if(missing_in_page OR missing_in_help)
  message(FATAL_ERROR "${PROGRAM} --help and ${PAGE} disagree.\n"
    "  In --help, not in the page: ${missing_in_page}\n"
    "  In the page, not in --help: ${missing_in_help}")
endif()
list(LENGTH in_help count)
message(STATUS "${count} options agree: ${in_help}")
