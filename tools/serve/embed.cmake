# Turns the page's files into a C++ include file of byte arrays and a table
# of them, so that the page is served from the binary:
#   cmake -DOUT=page_files.inc -DFILES="/=index.html;/page.css=page.css" -P embed.cmake
# Each entry is URL=FILE; the file is read as bytes.
set(text "// Made from tools/serve/page by tools/serve/embed.cmake at build time.\n")
set(table "")
set(i 0)
foreach(entry IN LISTS FILES)
  string(FIND "${entry}" "=" eq)
  string(SUBSTRING "${entry}" 0 ${eq} url)
  math(EXPR from "${eq} + 1")
  string(SUBSTRING "${entry}" ${from} -1 file)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR bytes "${digits} / 2")
  # Sixteen bytes a line; a final 0 keeps an empty file's array valid.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" hex "${hex}")
  get_filename_component(name "${file}" NAME)
  string(APPEND text "// ${name}\nalignas(8) inline constexpr unsigned char kPageFile${i}[] = {\n${hex}0};\n")
  string(APPEND table "    {\"${url}\", \"${name}\", kPageFile${i}, ${bytes}},\n")
  math(EXPR i "${i} + 1")
endforeach()
string(APPEND text "inline constexpr EmbeddedFile kPageFiles[] = {\n${table}};\n")
# Only a changed text is written, so that nothing depending on it is rebuilt
# for nothing.
set(old "")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
