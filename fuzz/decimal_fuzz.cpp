// Any byte string through decimalValue, checked against a second reading of
// the same rule that works on the digits as text, so that neither shares the
// other's arithmetic or its limits.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cli/decimal.hpp"

namespace {

int modelValue(const std::string& text) {
  std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string::npos)
    return 0;
  bool negative = false;
  if (text[at] == '+' || text[at] == '-')
    negative = text[at++] == '-';
  std::string digits;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    if (!digits.empty() || text[at] != '0')
      digits += text[at];
  }
  // Same number of digits: text order is number order.
  const std::string limit = negative ? "2147483648" : "2147483647";
  if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit))
    return negative ? INT32_MIN : INT32_MAX;
  const long long magnitude = digits.empty() ? 0 : std::stoll(digits);
  return static_cast<int>(negative ? -magnitude : magnitude);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The tool sees a C string: an argument ends at its first NUL.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string argument = text.substr(0, text.find('\0'));
  if (decimalValue(argument.c_str()) != modelValue(argument))
    std::abort();
  return 0;
}
