# Writes OUTPUT, a C++ source that holds the files FILES (names with commas
# between, under DIR) as byte arrays with their media types, for web/page_files.hpp: the
# control page is part of the program, never read from disk at run time.
string(REPLACE "," ";" FILES "${FILES}")
set(arrays "")
set(entries "")
set(index 0)
foreach(name IN LISTS FILES)
  file(READ ${DIR}/${name} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
    "\\1\n" bytes "${bytes}")
  if(name MATCHES "\\.html$")
    set(type "text/html; charset=utf-8")
  elseif(name MATCHES "\\.css$")
    set(type "text/css; charset=utf-8")
  elseif(name MATCHES "\\.js$")
    set(type "text/javascript; charset=utf-8")
  elseif(name MATCHES "\\.svg$")
    set(type "image/svg+xml")
  else()
    message(FATAL_ERROR "no media type for ${name}")
  endif()
  if(name STREQUAL "index.html")
    set(path "/")
  else()
    set(path "/${name}")
  endif()
  string(APPEND arrays "const unsigned char file${index}[] = {\n${bytes}};\n")
  string(APPEND entries "    {\"${path}\", \"${type}\", file${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.new "// Made by cmake/embed_page.cmake from src/web/page/: do not edit.
#include \"web/page_files.hpp\"

namespace {
${arrays}
const PageFile files[] = {
${entries}};
}  // namespace

const PageFile* findPageFile(std::string_view path) {
  for (const PageFile& file : files)
    if (path == file.path)
      return &file;
  return nullptr;
}
")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
