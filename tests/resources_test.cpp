// The version information and manifest of both editions' loadfile.exe, read
// back through the Windows API as Explorer and the loader would.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "harness.h"

namespace {

struct Edition {
  const char* folder = "";
  const char* description = "";
};

class ResourcesTest : public ::testing::TestWithParam<Edition> {
 protected:
  std::string Program() const {
    return BuiltProgram(std::string(GetParam().folder) + "/loadfile.exe");
  }
};

std::string StringValue(std::vector<char>& info, const char* name) {
  void* value = nullptr;
  UINT length = 0;
  std::string path = std::string("\\StringFileInfo\\040904E4\\") + name;
  if (!VerQueryValueA(info.data(), path.c_str(), &value, &length) || length == 0) return "";
  return std::string(static_cast<const char*>(value));
}

TEST_P(ResourcesTest, VersionInformationNamesTheEdition) {
  std::string program = Program();
  DWORD size = GetFileVersionInfoSizeA(program.c_str(), nullptr);
  ASSERT_GT(size, 0u) << program;
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(program.c_str(), 0, size, info.data()));

  EXPECT_EQ(StringValue(info, "FileVersion"), LOADFILE_VERSION);
  EXPECT_EQ(StringValue(info, "ProductVersion"), LOADFILE_VERSION);
  EXPECT_EQ(StringValue(info, "ProductName"), "loadfile");
  EXPECT_EQ(StringValue(info, "OriginalFilename"), "loadfile.exe");
  EXPECT_EQ(StringValue(info, "FileDescription"), GetParam().description);

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS,
            static_cast<DWORD>(LOADFILE_VERSION_MAJOR << 16 | LOADFILE_VERSION_MINOR));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(LOADFILE_VERSION_PATCH << 16));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST_P(ResourcesTest, ManifestRunsAsInvokerOnCurrentWindows) {
  HMODULE image = LoadLibraryExA(Program().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(image, nullptr);
  HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(found, nullptr);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
  std::string manifest(bytes, SizeofResource(image, found));
  FreeLibrary(image);
  EXPECT_NE(manifest.find("name=\"loadfile\" version=\"" LOADFILE_VERSION ".0\""),
            std::string::npos);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
  // Windows 10 and 11 share one id; 7 is the oldest the program declares.
  EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
  EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);
  // Paths past MAX_PATH, where Windows has them enabled.
  EXPECT_NE(manifest.find("<ws2:longPathAware>true</ws2:longPathAware>"), std::string::npos);
  EXPECT_NE(manifest.find("xmlns:ws2=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\""),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Editions, ResourcesTest,
    ::testing::Values(
        Edition{.folder = "named-user",
                .description = "loadfile, named-user edition: installs a file for a device user"},
        Edition{.folder = "last-user",
                .description = "loadfile, last-user edition: installs a file for a device user"}),
    [](const ::testing::TestParamInfo<Edition>& info) {
      return std::string(info.param.folder[0] == 'n' ? "NamedUser" : "LastUser");
    });

}  // namespace
