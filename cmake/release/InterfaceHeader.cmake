# Writes the interface header a media server compiles against from the
# component's own two declaration headers, so the interfaces, their ids and
# the host objects' interfaces exist once: what the component is built with is
# what a media server gets. The project's platform include becomes the
# Windows SDK's COM headers; nothing else of the build tree is left in it.
#
#   cmake -DSOURCE_DIR=... -DOUTPUT=... -DVERSION=... -P InterfaceHeader.cmake
set(parts ${SOURCE_DIR}/frame/host_interfaces.h ${SOURCE_DIR}/frame/MediaTranscoderLib.h)
set(text "// VskMpeg2TsTranscoder ${VERSION}: the interfaces a media server uses to drive\n")
string(APPEND text "// the component. Needs C++17 and the Windows SDK's COM headers (link ole32\n")
string(APPEND text "// and oleaut32). The component registers its classes itself (regsvr32), and\n")
string(APPEND text "// reads the parser library's folder from the host's settings: key\n")
string(APPEND text "// \"SpecifiedExtensionPath\", value \"VskMpegParser\".\n")
string(APPEND text "#pragma once\n\n#include <windows.h>\n#include <objbase.h>\n#include <oleauto.h>\n")
foreach(part ${parts})
  file(READ ${part} body)
  string(REGEX REPLACE "#pragma once\n" "" body "${body}")
  string(REGEX REPLACE "#include \"(frame|platform)/[^\"]*\"\n" "" body "${body}")
  if(body MATCHES "#include \"")
    message(FATAL_ERROR "${part} includes a header the interface header cannot carry")
  endif()
  get_filename_component(name ${part} NAME)
  string(APPEND text "\n// ---- ${name}\n${body}")
endforeach()
file(WRITE ${OUTPUT}.new "${text}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
