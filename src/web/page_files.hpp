#ifndef VANTREL_WEB_PAGE_FILES_HPP
#define VANTREL_WEB_PAGE_FILES_HPP

#include <cstddef>
#include <string_view>

/// One file of the control page, built into the program.
struct PageFile {
  const char* path;  ///< as requested: "/" for index.html, else "/NAME"
  const char* type;  ///< its Content-Type
  const unsigned char* data;
  std::size_t size;
};

/// The page's file served at `path`, or null.
const PageFile* findPageFile(std::string_view path);

#endif
