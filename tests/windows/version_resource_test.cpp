// The DLL's version resource, read the way Windows reads a file's properties:
// GetFileVersionInfo and VerQueryValue on the file beside this program. It is
// also a C++ host of the public header, linked against the import library.
#include <windows.h>

#include <string>

#include "gtest/gtest.h"
#include "mouse_jiggler.h"

namespace {

std::string dll_path() {
  char exe[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
  std::string path(exe, n);
  return path.substr(0, path.find_last_of("\\/") + 1) + "veltrano-mouse-jiggler.dll";
}

class VersionResource : public ::testing::Test {
 protected:
  std::string data;

  void SetUp() override {
    std::string path = dll_path();
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
    ASSERT_GT(size, 0u) << "no version resource in " << path << " (error " << GetLastError() << ")";
    data.resize(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, &data[0]));
  }

  // A string of the first language and code page in the translation table.
  std::string text(const char *name) {
    struct {
      WORD language, code_page;
    } * translation;
    UINT len = 0;
    if (!VerQueryValueA(&data[0], "\\VarFileInfo\\Translation", (void **)&translation, &len) ||
        len < sizeof *translation)
      return "<no translation table>";
    char block[96];
    snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\%s", translation->language, translation->code_page,
             name);
    char *value = nullptr;
    if (!VerQueryValueA(&data[0], block, (void **)&value, &len) || !value) return "<missing>";
    return std::string(value);
  }
};

TEST_F(VersionResource, FixedPartSaysVersion100OfADll) {
  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueA(&data[0], "\\", (void **)&fixed, &len));
  ASSERT_EQ(len, sizeof *fixed);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1));  // 1.0
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);              // .0.0
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1));
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, (DWORD)VFT_DLL);
}

TEST_F(VersionResource, TextsNameTheProductAndTheFile) {
  EXPECT_EQ(text("FileVersion"), "1.0.0");
  EXPECT_EQ(text("ProductVersion"), "1.0.0");
  EXPECT_EQ(text("ProductName"), "veltrano-mouse-jiggler");
  EXPECT_EQ(text("OriginalFilename"), "veltrano-mouse-jiggler.dll");
  EXPECT_EQ(text("FileDescription"), "Keeps an interactive desktop from being treated as idle");
}

// The resource and the code cannot tell different versions.
TEST_F(VersionResource, AgreesWithTheVersionTheDllReports) { EXPECT_EQ(text("FileVersion"), mj_version()); }

}  // namespace
