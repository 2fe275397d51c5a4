#ifndef VANTREL_COMMON_ONE_LINE_HPP
#define VANTREL_COMMON_ONE_LINE_HPP

#include <string>
#include <string_view>

/// `text` as one line that cannot steer a terminal or forge a log line:
/// newline and tab as \n and \t, every other control character as \xHH.
/// For anything a file or the network wrote that a message quotes.
std::string oneLine(std::string_view text);

#endif
