#ifndef VANTREL_COMMON_OPTIONS_HPP
#define VANTREL_COMMON_OPTIONS_HPP

#include <functional>
#include <string>
#include <vector>

/// An option of one of our tools: "--name", or with a value "--name VALUE"
/// and "--name=VALUE".
struct KnownOption {
  const char* name;
  bool takesValue;
};

/// What the reader of one option makes of it.
enum class OptionTaken {
  Next,     ///< go on with the arguments
  Finish,   ///< stop reading: the rest does not matter (--help, --version)
  Refused,  ///< a bad value: the reader has said why in the problem
};

/// Reads a command line the GNU way: options anywhere among the operands,
/// "--" ends them, and "-" alone is an operand. Calls `take` for each option
/// in order (its value null when it takes none) and collects the operands.
/// Returns false, with `problem` one line, at the first unknown option, an
/// option without its value or with one it does not take, or an option
/// `take` refused.
bool readOptions(int argc, const char* const argv[], const std::vector<KnownOption>& known,
                 const std::function<OptionTaken(const std::string& name, const char* value,
                                                 std::string& problem)>& take,
                 std::vector<const char*>& operands, std::string& problem);

/// `text` in single quotes, as our usage errors show what the user typed.
std::string quoted(const char* text);

#endif
