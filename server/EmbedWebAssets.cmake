# Writes the page's files into one C++ source as byte arrays, at build time:
#   cmake -DOUT=file.cpp -DBASE=dir -DFILES="a.html;b.css" -P EmbedWebAssets.cmake
# Each file becomes an entry of kEmbeddedWebFiles, named by its path under BASE with a leading "/".
set(text "// Generated from server/web/ by server/EmbedWebAssets.cmake: do not edit.\n")
string(APPEND text "#include \"server/WebAssetsData.h\"\n\nnamespace server {\nnamespace {\n")
set(entries "")
set(index 0)
foreach(file ${FILES})
  file(READ ${BASE}/${file} hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # Lines of 32 bytes keep the generated source readable in a diff viewer.
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" bytes "${bytes}")
  string(APPEND text "const unsigned char kFile${index}[] = {\n${bytes}0};\n")
  string(APPEND entries "    {\"/${file}\", {reinterpret_cast<const char*>(kFile${index}), ${size}}},\n")
  math(EXPR index "${index} + 1")
endforeach()
string(APPEND text "}  // namespace\n\nconst EmbeddedWebFile kEmbeddedWebFiles[] = {\n${entries}};\n")
string(APPEND text "const std::size_t kEmbeddedWebFileCount = ${index};\n\n}  // namespace server\n")
# Written only when it changed, so that an unchanged page rebuilds nothing.
set(old "")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUT} "${text}")
endif()
