// Any line as a request to vantreld's local socket: no crash, no hang; what
// passes holds only what the service may act on, and reads back the same
// once written as the tools write it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "service_link/local_protocol.hpp"
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kLocalLineBytes)
    return 0;  // the service cuts the line before reading it
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  LocalRequest request;
  std::string problem;
  if (!readLocalRequest(line, request, problem)) {
    require(!problem.empty() && problem.find('\n') == std::string::npos);
    return 0;
  }
  if (request.kind == LocalRequest::Kind::Save) {
    // A save's units are keys the service looks up, as many as a saved scene holds.
    require(request.units.size() <= kMaxSavedSceneUnits);
    for (const SavedUnit& unit : request.units)
      require(unit.key.port > 0 && (unit.key.type == 1 || unit.key.type == 2) && !unit.key.address.empty());
    LocalRequest again;
    const std::string written = saveRequestLine(request.scene, request.units);
    require(readLocalRequest(std::string_view(written).substr(0, written.size() - 1), again, problem));
    require(again.scene == request.scene && again.units.size() == request.units.size());
    return 0;
  }
  if (request.kind != LocalRequest::Kind::Fade)
    return 0;
  const LocalFade& fade = request.fade;
  require(!fade.units.empty());
  for (const LocalUnit& unit : fade.units) {
    require(unit.to == LocalUnit::kOn || (unit.to >= 0 && unit.to <= 255));
    require(unit.key.port > 0 && (unit.key.type == 1 || unit.key.type == 2));
    require(!unit.key.address.empty());
  }
  require(fade.from >= -1 && fade.from <= 255);
  require(fade.overUs >= 0 && fade.steps >= 0 && fade.steps <= 255);
  require(fade.tries >= 1 && fade.timeoutUs > 0 && fade.zeroUs >= 0);
  LocalRequest again;
  const std::string written = requestLine(fade);
  require(readLocalRequest(std::string_view(written).substr(0, written.size() - 1), again, problem));
  require(again.fade.units.size() == fade.units.size() && again.fade.overUs == fade.overUs);
  return 0;
}
