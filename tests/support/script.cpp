#include "support/script.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

bool scripted(const char* call, long& value) {
  const char* script = std::getenv("VANTREL_SCRIPT");
  if (script == nullptr)
    return false;
  const size_t length = std::strlen(call);
  for (const char* item = script; *item != '\0';) {
    if (std::strncmp(item, call, length) == 0 && item[length] == '=') {
      value = std::strtol(item + length + 1, nullptr, 10);
      return true;
    }
    const char* comma = std::strchr(item, ',');
    if (comma == nullptr)
      break;
    item = comma + 1;
  }
  return false;
}

void logCall(const char* call) {
  std::fprintf(stderr, "%s\n", call);
}
