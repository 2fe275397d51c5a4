// Any bytes as a saved scenes file: no crash, no hang, every scene read
// within the limits and of levels vantrel can send, every warning one line
// that names the file, and what is read writes back as text that reads the
// same without a warning.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "fuzz_input.hpp"
#include "units/saved_scenes.hpp"
#include "units/units_file.hpp"

namespace {

std::string scratchFile() {
  return "/tmp/saved_scenes_fuzz." + std::to_string(getpid());
}

bool writeFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = scratchFile();
  require(writeFile(path, std::string(reinterpret_cast<const char*>(data), size)));
  std::vector<std::string> warnings;
  const SavedScenes scenes = SavedScenes::read(path, warnings);
  for (const std::string& warning : warnings)
    require(warning.rfind(path + ":", 0) == 0 && warning.find('\n') == std::string::npos);
  require(scenes.scenes().size() <= kMaxSavedScenes);
  for (const SavedScene& scene : scenes.scenes()) {
    require(isValidName(scene.name) && !scene.units.empty() &&
            scene.units.size() <= kMaxSavedSceneUnits);
    for (const SavedUnit& unit : scene.units)
      require(isValidAddress(unit.key.address) && unit.key.port >= 1 &&
              (unit.key.type == 1 || unit.key.type == 2) && unit.level >= 0 &&
              unit.level <= 255 && isValidName(unit.name));
  }
  // What is read writes back whole.
  require(writeFile(path, scenes.text()));
  std::vector<std::string> again;
  const SavedScenes back = SavedScenes::read(path, again);
  require(again.empty() && back.text() == scenes.text());
  std::remove(path.c_str());
  return 0;
}
