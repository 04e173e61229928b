#include <filesystem>

#include "harness.h"
#include "settings.h"

namespace {

std::string& Folder() {
  static std::string folder;
  return folder;
}

std::filesystem::path Preferences() {
  return std::filesystem::path(Folder()) / "registry" / "HKEY_CURRENT_USER" / "Software" /
         "Corvallex" / "Tandril Desktop" / "Preferences";
}

}  // namespace

void UseSettingsIn(const std::string& folder) {
  Folder() = folder;
  SetEnvironment("XDG_CONFIG_HOME", folder);
}

void ClearSettings() {
  std::filesystem::remove_all(std::filesystem::path(Folder()) / "registry");
}

void PlantKey() {
  ClearSettings();
  std::filesystem::create_directories(Preferences());
}

void PlantName(const std::string& text) {
  PlantBinary(text + '\0');
}

void PlantBinary(const std::string& bytes) {
  PlantKey();
  WriteBytes((Preferences() / "LastUserName").string(), bytes);
}
