# Makes the manual page qvvcard(1) from the README's command-line section,
# the part between the markers "<!-- qvvcard(1) -->" and
# "<!-- end of qvvcard(1) -->", whose "####" headings become the page's
# sections.
#
# cmake -DREADME=README.md -DOUT=qvvcard.1 -DVERSION=1.0.0 -DMD2MAN=go-md2man -P man_page.cmake
cmake_minimum_required(VERSION 3.25)
file(READ ${README} text)
set(begin_marker "<!-- qvvcard(1) -->\n")
string(FIND "${text}" "${begin_marker}" begin)
string(FIND "${text}" "<!-- end of qvvcard(1) -->" end)
if(begin EQUAL -1 OR end EQUAL -1 OR end LESS begin)
  message(FATAL_ERROR "${README}: no section between <!-- qvvcard(1) --> and <!-- end of qvvcard(1) -->")
endif()
string(LENGTH "${begin_marker}" skip)
math(EXPR begin "${begin} + ${skip}")
math(EXPR length "${end} - ${begin}")
string(SUBSTRING "${text}" ${begin} ${length} section)
string(REGEX REPLACE "(^|\n)#### " "\\1# " section "${section}")
file(WRITE ${OUT}.md "% qvvcard 1 \"\" \"qvvcard ${VERSION}\" \"User Commands\"\n${section}")
execute_process(COMMAND ${MD2MAN} -in ${OUT}.md -out ${OUT} RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "${MD2MAN} failed on ${OUT}.md")
endif()
