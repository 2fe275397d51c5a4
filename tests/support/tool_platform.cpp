#include "support/tool_platform.hpp"

#include <iconv.h>

namespace {

std::string asUtf8(const std::string& utf8) { return utf8; }

#ifdef VANTREL_WINDOWS_DIM_PATH
// A Japanese Windows writes wide text in code page 932. glibc's CP932 is
// Microsoft's table (the full-width tilde has a code there; in plain
// Shift-JIS it has none).
std::string asCodePage932(const std::string& utf8) {
  iconv_t converter = iconv_open("CP932", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1))
    return "<no CP932 converter>";
  std::string in = utf8;
  std::string out(in.size() * 2, '\0');
  char* from = in.data();
  char* to = out.data();
  size_t fromLeft = in.size();
  size_t toLeft = out.size();
  const size_t done = iconv(converter, &from, &fromLeft, &to, &toLeft);
  iconv_close(converter);
  if (done == static_cast<size_t>(-1))
    return "<not representable in CP932: " + utf8 + ">";
  out.resize(out.size() - toLeft);
  return out;
}
#endif

}  // namespace

std::vector<ToolPlatform> testedPlatforms() {
  std::vector<ToolPlatform> platforms;
  platforms.push_back({"Linux",
                       {VANTREL_DIM_PATH},
                       {VANTREL_DIM_SCRIPTED_PATH},
                       {VANTREL_FADE_PATH},
                       {VANTREL_SIM_PATH},
                       {VANTREL_PATH},
                       {"LC_ALL=C.UTF-8"},
                       "\n",
                       asUtf8,
                       111,
                       {"startup", "socket", "", "connect", "send", "receive", "close", "cleanup"}});
#ifdef VANTREL_WINDOWS_DIM_PATH
  platforms.push_back({"Windows",
                       {VANTREL_WINE_ENV, VANTREL_WINE, VANTREL_WINDOWS_DIM_PATH},
                       {VANTREL_WINE_ENV, VANTREL_WINE, VANTREL_WINDOWS_DIM_SCRIPTED_PATH},
                       {VANTREL_WINE_ENV, VANTREL_WINE, VANTREL_WINDOWS_FADE_PATH},
                       {VANTREL_WINE_ENV, VANTREL_WINE, VANTREL_WINDOWS_SIM_PATH},
                       {VANTREL_WINE_ENV, VANTREL_WINE, VANTREL_WINDOWS_VANTREL_PATH},
                       {"LANG=ja_JP.UTF-8", "LC_ALL=ja_JP.UTF-8"},
                       "\r\n",
                       asCodePage932,
                       10061,
                       {"WSAStartup", "socket", "WSAGetLastError", "connect", "send", "recv",
                        "closesocket", "WSACleanup"}});
#endif
  return platforms;
}

std::vector<ToolPlatform> platformsAndService() {
  std::vector<ToolPlatform> platforms = testedPlatforms();
  ToolPlatform service = platforms.front();
  service.name = "LinuxThroughVantreld";
  service.throughService = true;
  platforms.push_back(service);
  return platforms;
}

std::string console(const ToolPlatform& platform, const std::string& utf8) {
  std::string text;
  for (char c : utf8)
    text += c == '\n' ? platform.lineEnd : std::string(1, c);
  return platform.encode(text);
}

std::string callLog(const ToolPlatform& platform, std::initializer_list<Call> calls) {
  std::string log;
  for (Call call : calls) {
    const std::string name = platform.callNames[static_cast<size_t>(call)];
    if (!name.empty())
      log += name + platform.lineEnd;
  }
  return log;
}
