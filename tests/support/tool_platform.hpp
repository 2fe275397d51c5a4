#ifndef VANTREL_TESTS_TOOL_PLATFORM_HPP
#define VANTREL_TESTS_TOOL_PLATFORM_HPP

#include <array>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

/// The socket steps of a run, as the scripted builds log them.
enum class Call { Startup, Socket, ErrorCode, Connect, Send, Receive, CloseSocket, Cleanup };

/// What differs between the platforms the tools run on, as seen from its
/// console, its error codes and its scripted build.
struct ToolPlatform {
  std::string name;
  std::vector<std::string> command;          ///< runs the tool; the arguments follow
  std::vector<std::string> scriptedCommand;  ///< runs its scripted build
  std::vector<std::string> fadeCommand;      ///< runs vantrel-fade
  std::vector<std::string> simCommand;       ///< runs vantrel-sim
  std::vector<std::string> vantrelCommand;   ///< runs vantrel
  std::vector<std::string> environment;      ///< set for the tool's run
  std::string lineEnd;                       ///< what a "\n" of the tool becomes
  std::string (*encode)(const std::string& utf8);
  long connectionRefused;                    ///< the platform's code for a refused connect
  /// The scripted build's log line for each Call, empty where it logs none.
  std::array<const char*, 8> callNames;
  /// vantrel and vantrel-fade go through a vantreld that the test runs.
  bool throughService = false;
};

inline void PrintTo(const ToolPlatform& platform, std::ostream* out) { *out << platform.name; }

/// Linux, and Windows under wine when this build has it.
std::vector<ToolPlatform> testedPlatforms();
/// Those, and Linux once more with vantrel and vantrel-fade through a
/// vantreld: for the suites of those tools, which must say the same either
/// way.
std::vector<ToolPlatform> platformsAndService();

/// What the tool prints on `platform`'s console for the UTF-8 text `utf8`.
std::string console(const ToolPlatform& platform, const std::string& utf8);

/// What the scripted build logs on `platform` for these steps.
std::string callLog(const ToolPlatform& platform, std::initializer_list<Call> calls);

#endif
