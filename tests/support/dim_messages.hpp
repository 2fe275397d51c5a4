#ifndef VANTREL_TESTS_DIM_MESSAGES_HPP
#define VANTREL_TESTS_DIM_MESSAGES_HPP

#include <string>

// vantrel-dim's lines for an exchange, in UTF-8 with "\n" line ends: what a
// Linux console shows, and what console() turns into another platform's.

inline std::string succeeded(int level) {
  return "\nOutput succeeded. 調光値" + std::to_string(level) + "で出力が成功しました。\n";
}
inline std::string failed(int level) {
  return "\nOutput failed. 調光値" + std::to_string(level) + "で出力が失敗しました。\n";
}
inline std::string sent(const std::string& bytes) {
  return "Send data to the Vantrel: " + bytes + "\n";
}
inline std::string received(const std::string& bytes) {
  return "\nReceive data from the Vantrel: " + bytes;
}

#endif
