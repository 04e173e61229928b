// The suite's settings as the last-user tests plant them: through the real
// registry on Windows (the tests' own Wine prefix), in the folder store
// elsewhere. Each call leaves the preferences key in exactly the state named.
#ifndef LOADFILE_TESTS_SETTINGS_H_
#define LOADFILE_TESTS_SETTINGS_H_

#include <string>

// Points the settings at |folder| where the platform allows (the folder
// store); the Windows registry has one place only.
void UseSettingsIn(const std::string& folder);

// No preferences key at all.
void ClearSettings();
// The key, without a LastUserName value.
void PlantKey();
// LastUserName as a string (REG_SZ): |text| and the NUL the registry keeps.
void PlantName(const std::string& text);
// LastUserName as binary data (REG_BINARY): |bytes| exactly.
void PlantBinary(const std::string& bytes);

#endif  // LOADFILE_TESTS_SETTINGS_H_
