# Writes OUTPUT, a C++ source holding the bytes of TEMPLATE, STYLE, SCRIPT and LICENCE as
# tessloom::inspect::assets::kTemplate and so on, each with its size.
set(source "// Generated from the HTML page's parts; not to be edited.\n#include <cstddef>\n")
string(APPEND source "namespace tessloom::inspect::assets {\n")
foreach(part Template Style Script Licence)
  string(TOUPPER ${part} variable)
  file(READ ${${variable}} text)
  # the script and the licence stand inside <script> elements, which this would end early
  string(TOLOWER "${text}" lower)
  string(FIND "${lower}" "</script" early)
  if(NOT part STREQUAL "Template" AND NOT early EQUAL -1)
    message(FATAL_ERROR "${${variable}} holds </script at ${early}")
  endif()
  file(READ ${${variable}} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND source "extern const unsigned char k${part}[] = {${bytes}};\n"
                       "extern const std::size_t k${part}Size = ${size};\n")
endforeach()
string(APPEND source "}  // namespace tessloom::inspect::assets\n")
file(WRITE ${OUTPUT}.new "${source}")
file(RENAME ${OUTPUT}.new ${OUTPUT})
