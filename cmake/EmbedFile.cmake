# cmake -DINPUT=file -DOUTPUT=file.cpp -DEMBED=ON|OFF -P EmbedFile.cmake
# Writes the resource table of a POSIX build: the template as RCDATA "IniData".
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
