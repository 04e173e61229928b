#include <gtest/gtest.h>
#include <windows.h>

#include "settings.h"

namespace {

const char kPreferences[] = "Software\\Corvallex\\Tandril Desktop\\Preferences";

void SetValue(DWORD type, const std::string& bytes) {
  PlantKey();
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kPreferences, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  EXPECT_EQ(
      RegSetValueExA(key, "LastUserName", 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                     static_cast<DWORD>(bytes.size())),
      ERROR_SUCCESS);
  RegCloseKey(key);
}

}  // namespace

void UseSettingsIn(const std::string&) {}

void ClearSettings() {
  LONG status = RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Corvallex");
  ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
}

void PlantKey() {
  ClearSettings();
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kPreferences, 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void PlantName(const std::string& text) {
  SetValue(REG_SZ, text + '\0');
}

void PlantBinary(const std::string& bytes) {
  SetValue(REG_BINARY, bytes);
}
