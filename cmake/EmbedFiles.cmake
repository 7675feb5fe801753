# Turns files into a C++ source that defines tarvex::dashboard::FindPageFile (see
# src/app/dashboard/EmbeddedPage.h), run as a build step:
#
#   cmake -DOUTPUT=page.cpp -DFILES="a.html;b.js" -P EmbedFiles.cmake
#
# Each file becomes an array of its bytes under its own name (no folder), so that the page in
# the binary is exactly the page in the source tree.
cmake_minimum_required(VERSION 3.25)
set(body "// Made by cmake/EmbedFiles.cmake from the files of the page; not to be edited.\n")
string(APPEND body "#include \"app/dashboard/EmbeddedPage.h\"\n\nnamespace tarvex::dashboard {\nnamespace {\n\n")
set(table "")
set(n 0)
foreach(file IN LISTS FILES)
    get_filename_component(name "${file}" NAME)
    file(READ "${file}" hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    # About 16 bytes a line keeps the generated file readable in a diff.
    string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
    string(APPEND body "const unsigned char kFile${n}[] = {\n    ${bytes}0x00};\n\n")
    string(APPEND table "    {\"${name}\", kFile${n}, ${size}},\n")
    math(EXPR n "${n} + 1")
endforeach()
string(APPEND body "const EmbeddedFile kFiles[] = {\n${table}};\n\n}  // namespace\n\n")
string(APPEND body "const EmbeddedFile* FindPageFile(std::string_view name) {\n")
string(APPEND body "    for (const EmbeddedFile& f : kFiles) {\n        if (name == f.name) {\n")
string(APPEND body "            return &f;\n        }\n    }\n    return nullptr;\n}\n\n")
string(APPEND body "}  // namespace tarvex::dashboard\n")
# Written only when it changed, so that an unchanged page does not rebuild the server.
set(temp "${OUTPUT}.tmp")
file(WRITE "${temp}" "${body}")
file(COPY_FILE "${temp}" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${temp}")
