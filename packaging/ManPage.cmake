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

# The lines of text broken at spaces to at most `width` columns, for blocks that the page shows
# as they are (.nf), where a long line would run off an 80-column terminal. A broken line goes on
# indented as far as its description starts (after an option or a status and two spaces), or
# else as far as the line itself is.
function(wrap_lines text width out)
    # Semicolons and brackets mean something to CMake's lists: kept aside while lines are split.
    string(ASCII 29 semicolon)
    string(ASCII 30 open)
    string(ASCII 31 close)
    string(REPLACE ";" "${semicolon}" text "${text}")
    string(REPLACE "[" "${open}" text "${text}")
    string(REPLACE "]" "${close}" text "${text}")
    string(REPLACE "\n" ";" lines "${text}")
    set(result "")
    set(first ON)
    foreach(line IN LISTS lines)
        if(NOT first)
            string(APPEND result "\n")
        endif()
        set(first OFF)
        string(LENGTH "${line}" length)
        if(length LESS_EQUAL width)
            string(APPEND result "${line}")
            continue()
        endif()
        string(REGEX MATCH "^ *[^ ]+( [^ ]+)*  +" column "${line}")
        string(LENGTH "${column}" hang)
        math(EXPR half "${width} / 2")
        if(hang EQUAL 0 OR hang GREATER half)
            string(REGEX MATCH "^x *" column "x${line}")  # CMake matches no empty string
            string(LENGTH "${column}" hang)
            math(EXPR hang "${hang} - 1")
        endif()
        string(REPEAT " " ${hang} indent)
        while(length GREATER width)
            math(EXPR reach "${width} + 1")
            string(SUBSTRING "${line}" 0 ${reach} head)
            string(FIND "${head}" " " cut REVERSE)
            if(cut LESS_EQUAL hang)
                # A word longer than the width: broken after it.
                string(SUBSTRING "${line}" ${reach} -1 rest)
                string(FIND "${rest}" " " after)
                if(after LESS 0)
                    break()
                endif()
                math(EXPR cut "${reach} + ${after}")
            endif()
            string(SUBSTRING "${line}" 0 ${cut} head)
            string(REGEX REPLACE " +$" "" head "${head}")
            math(EXPR from "${cut} + 1")
            string(SUBSTRING "${line}" ${from} -1 rest)
            string(REGEX REPLACE "^ +" "" rest "${rest}")
            string(APPEND result "${head}\n")
            set(line "${indent}${rest}")
            string(LENGTH "${line}" length)
        endwhile()
        string(APPEND result "${line}")
    endforeach()
    string(REPLACE "${semicolon}" ";" result "${result}")
    string(REPLACE "${open}" "[" result "${result}")
    string(REPLACE "${close}" "]" result "${result}")
    set(${out} "${result}" PARENT_SCOPE)
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
        # Shown from the section's indent of seven columns: 72 more fit into 80.
        wrap_lines("${sub_help}" 72 sub_help)
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
