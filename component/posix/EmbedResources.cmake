# Writes a C++ source that registers the registry scripts as embedded text
# resources (the Linux build has no resource sections).
# -DOUTPUT=<file> -DINPUTS="<id>=<path>;..."
set(content "// Generated from the registry scripts; do not edit.\n#include \"platform/resources.h\"\n\nnamespace {\n")
foreach(pair IN LISTS INPUTS)
  string(REPLACE "=" ";" parts "${pair}")
  list(GET parts 0 id)
  list(GET parts 1 path)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND content "const char g_script${id}[] = {${bytes} 0};\n")
  string(APPEND content "const platform::CEmbeddedResource g_resource${id}(L\"REGISTRY\", ${id}, {g_script${id}, ${size}});\n")
endforeach()
string(APPEND content "}  // namespace\n")
file(WRITE "${OUTPUT}" "${content}")
