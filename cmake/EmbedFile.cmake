# cmake -DINPUT=file -DOUTPUT=file -DEMBED=ON|OFF [-DFORMAT=cpp|rc -DCAPACITY=bytes]
#       -P EmbedFile.cmake
# Writes the template as RCDATA "IniData": a resource table for POSIX builds (cpp, the
# default), or an .rc fragment for windres (rc) whose data is the template followed by NUL
# bytes up to CAPACITY, the room that lwtemplate stamp fills with another template (the
# tool reads the template only up to its first NUL).
if(NOT FORMAT)
  set(FORMAT cpp)
endif()

if(FORMAT STREQUAL "rc")
  set(text "// Generated from ${INPUT}; do not edit.\n")
  if(EMBED)
    file(SIZE "${INPUT}" size)
    if(size GREATER CAPACITY)
      message(FATAL_ERROR "${INPUT}: the template is ${size} bytes, more than the ${CAPACITY} "
                          "bytes reserved for it (LINKWRIGHT_TEMPLATE_CAPACITY)")
    endif()
    file(READ "${INPUT}" hex HEX)
    math(EXPR padding "${CAPACITY} - ${size}")
    string(REPEAT "00" ${padding} zeros)
    string(APPEND hex "${zeros}")
    # windres reads plain numbers as little-endian 16-bit words.
    string(REGEX REPLACE "(..)(..)" "0x\\2\\1," words "${hex}")
    string(REGEX REPLACE "(([^,]*,){16})" "\\1\n  " words "${words}")
    string(REGEX REPLACE ",[ \n]*$" "" words "${words}")
    string(APPEND text "IniData RCDATA\nBEGIN\n  ${words}\nEND\n")
  endif()
  file(WRITE "${OUTPUT}.new" "${text}")
  file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
  file(REMOVE "${OUTPUT}.new")
  return()
endif()

set(body "")
set(count 0)
if(EMBED)
  file(READ "${INPUT}" hex HEX)
  string(LENGTH "${hex}" hexlen)
  math(EXPR size "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(REGEX REPLACE "(([^,]*,){16})" "\\1\n    " bytes "${bytes}")
  set(body "const char kIniData[] = {\n    ${bytes}0};\n")
  set(count 1)
  set(table "{\"IniData\", 10, kIniData, ${size}}")
else()
  set(table "{nullptr, 0, nullptr, 0}")
endif()
file(WRITE "${OUTPUT}.new" "// Generated from ${INPUT}; do not edit.
#include \"platform/embedded_resources.h\"

namespace lw {
namespace {
${body}}  // namespace

const EmbeddedResource kEmbeddedResources[] = {${table}};
const std::size_t kEmbeddedResourceCount = ${count};

}  // namespace lw
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
