// The folder store that stands in for the registry where there is none,
// held to the Windows behaviour of the three operations, and the last-user
// lookup over it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "failing.h"
#include "harness.h"
#include "last_user.h"
#include "settings.h"

namespace {

namespace fs = std::filesystem;

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = NewScratchFolder();
    UseSettingsIn(folder_);
    root_ = fs::path(folder_) / "registry" / "HKEY_CURRENT_USER";
    fs::create_directories(root_ / "A" / "B");
    WriteBytes((root_ / "A" / "value").string(), std::string("abc\0", 4));
    WriteBytes((root_ / "A" / "empty").string(), "");
  }
  void TearDown() override {
    SetEnvironment("XDG_CONFIG_HOME", "", true);
    RemoveFolder(folder_);
  }
  HKEY Open(const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, path, &key), ERROR_SUCCESS) << path;
    return key;
  }

  std::string folder_;
  fs::path root_;
};

TEST_F(RegistryStoreTest, OpensKeysAlongThePath) {
  // Names as Windows takes them: up to 255 bytes, dots first.
  const std::string longest(255, 'k');
  for (const std::string& name : {std::string(".a"), std::string("..a"), longest}) {
    fs::create_directories(root_ / "A" / name);
  }
  for (const std::string& path : {std::string("A\\B"), std::string("A\\\\B\\"), std::string("A"),
                                  std::string("A\\.a"), std::string("A\\..a"), "A\\" + longest}) {
    HKEY key = Open(path.c_str());
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS) << path;
  }
}

TEST_F(RegistryStoreTest, MissingKeys) {
  for (const char* path : {"Missing", "A\\Missing", "A\\value"}) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, path, &key), ERROR_FILE_NOT_FOUND) << path;
  }
}

TEST_F(RegistryStoreTest, NoStoreAtAllIsAMissingKey) {
  HKEY key = nullptr;
  // A config folder whose store's path misses the room for it (4096 bytes
  // with its NUL) by one byte, and by more: the path cut to fit would name
  // the folder made here.
  for (size_t length : {4068, 4080}) {
    std::string config = folder_;
    while (config.size() < length) {
      size_t part = std::min<size_t>(200, length - config.size() - 1);
      config.append(1, '/').append(part, 'c');
    }
    std::string cut = (config + "/registry/HKEY_CURRENT_USER").substr(0, 4095);
    fs::create_directories(cut);
    SetEnvironment("XDG_CONFIG_HOME", config);
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "", &key), ERROR_FILE_NOT_FOUND) << length;
  }
  UseSettingsIn(folder_);
  RemoveFolder((fs::path(folder_) / "registry").string());
  EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "A", &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryStoreTest, ReadsCountsInAndOut) {
  HKEY key = Open("A");
  BYTE data[8] = {};
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(key, "value", nullptr, nullptr, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 4), std::string("abc\0", 4));

  size = 4;  // exactly enough
  EXPECT_EQ(RegQueryValueExA(key, "value", nullptr, nullptr, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);

  for (DWORD room : {3u, 1u, 0u}) {  // too short
    size = room;
    EXPECT_EQ(RegQueryValueExA(key, "value", nullptr, nullptr, data, &size), ERROR_MORE_DATA);
  }

  size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(key, "empty", nullptr, nullptr, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

// A process out of descriptors is not told a key is missing.
TEST_F(RegistryStoreTest, NoDescriptorLeftIsNotAMissingKey) {
  struct rlimit was;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &was), 0);
  struct rlimit none = {0, was.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  HKEY key = nullptr;
  LONG status = RegOpenKeyA(HKEY_CURRENT_USER, "A", &key);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &was), 0);
  EXPECT_EQ(status, ERROR_READ_FAULT);
}

// One of the store's calls fails, as the disk or the system fails it: never
// taken for a missing key or a value read whole. A value's type, then its
// bytes, then whether it goes on past the room given.
struct StoreFault {
  const char* what = "";
  Failing how = {};
  bool query = false;  // the value "value" read from key A, opened before
  LONG status = ERROR_SUCCESS;
};

TEST_F(RegistryStoreTest, FailedCallsAreToldApart) {
  const StoreFault kRows[] = {
      // clang-format off
      {.what = "key refused", .how = {.call = "open", .times = 1, .fault = kDeniedFault},
       .status = ERROR_READ_FAULT},
      {.what = "value refused", .how = {.call = "openat", .times = 1, .fault = kDeniedFault},
       .query = true, .status = ERROR_READ_FAULT},
      {.what = "value's type unreadable", .how = {.call = "fstat", .times = 1,
       .fault = kDiskFault}, .query = true, .status = ERROR_READ_FAULT},
      {.what = "value unreadable", .how = {.call = "read", .times = 1, .fault = kDiskFault},
       .query = true, .status = ERROR_READ_FAULT},
      {.what = "value's end unreadable", .how = {.call = "read", .from = 2, .times = 1,
       .fault = kDiskFault}, .query = true, .status = ERROR_READ_FAULT},
      {.what = "read interrupted", .how = {.call = "read", .times = 1,
       .fault = kInterruptedFault}, .query = true},
      // clang-format on
  };
  for (const StoreFault& row : kRows) {
    HKEY key = row.query ? Open("A") : nullptr;
    BYTE data[4] = {};
    DWORD size = sizeof data;
    failing = row.how;
    fault_hook = FailSome;
    LONG status = row.query ? RegQueryValueExA(key, "value", nullptr, nullptr, data, &size)
                            : RegOpenKeyA(HKEY_CURRENT_USER, "A", &key);
    fault_hook = nullptr;
    EXPECT_EQ(failing.failed, 1) << row.what << ": no such call";
    EXPECT_EQ(status, row.status) << row.what;
    if (status == ERROR_SUCCESS) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("abc\0", 4));
    }
    if (key != nullptr) {
      EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS) << row.what;
    }
  }
}

TEST_F(RegistryStoreTest, MissingValues) {
  HKEY key = Open("A");
  BYTE data[8];
  DWORD size = sizeof data;
  // A FIFO is no value either, and is never waited on.
  MakeFifo((root_ / "A" / "fifo").string());
  for (const char* name : {"missing", "B", "", "..", "fifo"}) {
    size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(key, name, nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND)
        << name;
  }
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

// Only the key path's '\' separate keys: the config home's bytes stay.
TEST_F(RegistryStoreTest, ConfigHomeIsTakenAsItStands) {
  std::string config = folder_ + "/a\\b";
  fs::create_directories(fs::path(config) / "registry" / "HKEY_CURRENT_USER" / "H");
  SetEnvironment("XDG_CONFIG_HOME", config);
  EXPECT_EQ(RegCloseKey(Open("H")), ERROR_SUCCESS);
}

TEST_F(RegistryStoreTest, RelativeConfigHomeIsIgnored) {
  SetEnvironment("XDG_CONFIG_HOME", "relative");
  ScopedVariable home("HOME", folder_);
  fs::create_directories(fs::path(folder_) / ".config" / "registry" / "HKEY_CURRENT_USER" / "H");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "H", &key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  // Without a home either there is no store, whatever the last path was.
  ScopedVariable no_home("HOME", "", true);
  EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "H", &key), ERROR_FILE_NOT_FOUND);
}

// The lookup closes the key on every path, a failed read included.
TEST_F(RegistryStoreTest, LookupLeavesNoKeyOpen) {
  int before = OpenFiles();
  for (const std::string& bytes : {std::string("Ann\0", 4), std::string(30, 'x'), std::string()}) {
    PlantBinary(bytes);
    char name[20];
    DWORD size = sizeof name;
    GetLastUserName(name, &size);
    EXPECT_EQ(OpenFiles(), before) << bytes.size() << " bytes";
  }
}

}  // namespace
