# Writes the manual page of one program from its own --help and --version (help2man), with
# the hand-written sections of the include files. Run with cmake -P:
#
#   -DPROGRAM=path       the built program
#   -DNAME=text          the one-line description for the NAME section
#   -DINCLUDES=a;b       help2man include files
#   -DREADME=path        optional: a Markdown file whose "Exit status" table becomes EXIT STATUS
#   -DEXIT_STATUSES=ON   optional: that table from the program itself (PROGRAM --exit-statuses)
#   -DSUBCOMMANDS=ON     optional: a COMMANDS section with each subcommand's own --help
#   -DOUTPUT=path.1.gz   the compressed page
#   -DWORK=dir           a folder for the pieces
cmake_minimum_required(VERSION 3.25)

find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)
file(MAKE_DIRECTORY "${WORK}")
get_filename_component(program_name "${PROGRAM}" NAME)
set(generated "${WORK}/${program_name}.generated.h2m")
file(WRITE "${generated}" "")

# Text as roff that shows it literally.
function(roff_escape text out)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    # A line that starts with a dot or an apostrophe would be a request.
    set(text "\n${text}")
    string(REPLACE "\n." "\n\\&." text "${text}")
    string(REPLACE "\n'" "\n\\&'" text "${text}")
    string(SUBSTRING "${text}" 1 -1 text)
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

if(SUBCOMMANDS)
    execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${PROGRAM} --help failed")
    endif()
    string(REGEX MATCH "Subcommands:\n([^\n]+\n)+" block "${help}")
    string(REGEX MATCHALL "\n  [a-z][a-z-]*" names "${block}")
    set(section "[COMMANDS]\n")
    foreach(name IN LISTS names)
        string(STRIP "${name}" name)
        execute_process(COMMAND "${PROGRAM}" ${name} --help OUTPUT_VARIABLE sub_help
                        RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "${PROGRAM} ${name} --help failed")
        endif()
        roff_escape("${sub_help}" sub_help)
        string(APPEND section ".SS \"${program_name} ${name}\"\n.nf\n${sub_help}\n.fi\n")
    endforeach()
    file(APPEND "${generated}" "${section}\n")
endif()

if(EXIT_STATUSES)
    execute_process(COMMAND "${PROGRAM}" --exit-statuses OUTPUT_FILE "${WORK}/exit-statuses.md"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${PROGRAM} --exit-statuses failed")
    endif()
    set(README "${WORK}/exit-statuses.md")
endif()

if(README)
    # The rows of the table that follows the "| Exit status | Meaning |" header.
    file(STRINGS "${README}" lines)
    set(in_table OFF)
    set(section "[EXIT STATUS]\n")
    foreach(line IN LISTS lines)
        if(line MATCHES "^\\| *Exit status *\\|")
            set(in_table ON)
        elseif(in_table AND line MATCHES "^\\|[- |]+\\|$")
            # the separator row
        elseif(in_table AND line MATCHES "^\\| *([^|]+[^ |]) *\\| *(.+[^ |]) *\\|$")
            string(REPLACE "`" "" status "${CMAKE_MATCH_1}")
            string(REPLACE "`" "" meaning "${CMAKE_MATCH_2}")
            roff_escape("${status}" status)
            roff_escape("${meaning}" meaning)
            string(APPEND section ".TP\n.B ${status}\n${meaning}\n")
        elseif(in_table)
            break()
        endif()
    endforeach()
    if(section STREQUAL "[EXIT STATUS]\n")
        message(FATAL_ERROR "no exit status table in ${README}")
    endif()
    file(APPEND "${generated}" "${section}\n")
endif()

set(include_args)
file(SIZE "${generated}" generated_size)
if(generated_size GREATER 0)
    list(APPEND include_args --include "${generated}")
endif()
foreach(include IN LISTS INCLUDES)
    list(APPEND include_args --include "${include}")
endforeach()
get_filename_component(page "${OUTPUT}" NAME_WLE)  # name.1
execute_process(
    COMMAND "${HELP2MAN}" --no-info --section 1 --name "${NAME}" ${include_args}
            --output "${WORK}/${page}" "${PROGRAM}"
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "help2man failed for ${PROGRAM}")
endif()
execute_process(COMMAND "${GZIP}" -9nf "${WORK}/${page}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed for ${WORK}/${page}")
endif()
file(RENAME "${WORK}/${page}.gz" "${OUTPUT}")
