#include "common/options.hpp"

#include <cstring>

std::string quoted(const char* text) {
  return std::string("'") + text + "'";
}

bool readOptions(int argc, const char* const argv[], const std::vector<KnownOption>& known,
                 const std::function<OptionTaken(const std::string& name, const char* value,
                                                 std::string& problem)>& take,
                 std::vector<const char*>& operands, std::string& problem) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      operands.push_back(arg);
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
      continue;
    }
    const char* equals = std::strchr(arg, '=');
    const std::string name = equals ? std::string(arg, equals) : std::string(arg);
    const KnownOption* option = nullptr;
    for (const KnownOption& candidate : known) {
      if (name == candidate.name)
        option = &candidate;
    }
    if (option == nullptr) {
      problem = "unknown option " + quoted(name.c_str());
      return false;
    }
    const char* value = nullptr;
    if (!option->takesValue && equals) {
      problem = "option " + name + " takes no value";
      return false;
    }
    if (option->takesValue) {
      value = equals ? equals + 1 : (i + 1 < argc ? argv[++i] : nullptr);
      if (value == nullptr) {
        problem = "option " + name + " needs a value";
        return false;
      }
    }
    switch (take(name, value, problem)) {
      case OptionTaken::Next: break;
      case OptionTaken::Finish: return true;
      case OptionTaken::Refused: return false;
    }
  }
  return true;
}
