# Builds the page's sources into the program: page.html with page.css and
# the scripts put in, cut where the data goes into the text before it and
# the text after it, written as two C++ string literals.
#   cmake -DPAGE=page.html -DSTYLE=page.css -DSCRIPTS="a.js;b.js" -DOUTPUT=HtmlAssets.cpp -P embed.cmake
cmake_minimum_required(VERSION 3.21)
file(READ "${PAGE}" page)
file(READ "${STYLE}" style)
set(scripts "")
string(REPLACE "|" ";" SCRIPTS "${SCRIPTS}")
foreach(script IN LISTS SCRIPTS)
  file(READ "${script}" text)
  string(FIND "${text}" "</script" closing)
  if(NOT closing EQUAL -1)
    message(FATAL_ERROR "${script} holds </script, which would end the page's script early")
  endif()
  string(APPEND scripts "${text}\n")
endforeach()
string(REPLACE "/*@style@*/" "${style}" page "${page}")
string(REPLACE "/*@scripts@*/" "${scripts}" page "${page}")
string(FIND "${page}" "<!--@data@-->" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${PAGE} has no <!--@data@--> for the data")
endif()
string(SUBSTRING "${page}" 0 ${at} before)
math(EXPR after_at "${at} + 13")
string(SUBSTRING "${page}" ${after_at} -1 after)
string(FIND "${page}" ")spanmill_page\"" delimiter)
if(NOT delimiter EQUAL -1)
  message(FATAL_ERROR "the page holds the literals' delimiter")
endif()
file(WRITE "${OUTPUT}.new"
  "// Made by report/html/embed.cmake from report/html: edit those.\n"
  "#include \"report/HtmlAssets.h\"\n\n"
  "namespace orvel {\n\n"
  "const char kHtmlBeforeData[] = R\"spanmill_page(${before})spanmill_page\";\n\n"
  "const char kHtmlAfterData[] = R\"spanmill_page(${after})spanmill_page\";\n\n"
  "}  // namespace orvel\n")
# Only a changed page rebuilds what includes it.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
