#include "common/whole_number.hpp"

bool parseWholeNumber(const char* text, int lo, int hi, int& value) {
  if (*text == '\0')
    return false;
  long long number = 0;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9')
      return false;
    number = number * 10 + (*text - '0');
    if (number > hi)
      return false;
  }
  if (number < lo)
    return false;
  value = static_cast<int>(number);
  return true;
}
