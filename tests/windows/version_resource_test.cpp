// The version resources of the DLL and both hosts, read the way Windows reads
// a file's properties: GetFileVersionInfo and VerQueryValue on the files
// beside this program. It is also a C++ (and, through header_c_check.c, a C)
// host of the public header, linked against the import library.
#include <stdio.h>
#include <windows.h>

#include <string>

#include "gtest/gtest.h"
#include "mouse_jiggler.h"
#include "this_program.h"

namespace {

class VersionResource : public ::testing::Test {
 protected:
  std::string data;

  void SetUp() override { read("veltrano-mouse-jiggler.dll"); }

  void read(const char *name) {
    std::string path = beside_this_program(name);
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

const char k_copyright[] = "Copyright (c) 2026 the veltrano-mouse-jiggler authors";

// Every binary of the package: its file type, description and the licence's
// copyright line.
struct binary_case {
  const char *file;
  DWORD file_type;
  const char *description;
};

const binary_case k_binaries[] = {
    {"veltrano-mouse-jiggler.dll", VFT_DLL, "Keeps an interactive desktop from being treated as idle"},
    {"mjctl.exe", VFT_APP, "Command-line host of veltrano-mouse-jiggler"},
    {"mjtray.exe", VFT_APP, "veltrano-mouse-jiggler agent in the notification area"},
};

class EveryBinary : public VersionResource, public ::testing::WithParamInterface<binary_case> {
 protected:
  void SetUp() override { read(GetParam().file); }
};

TEST_P(EveryBinary, NamesItselfTheVersionAndTheAuthors) {
  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueA(&data[0], "\\", (void **)&fixed, &len));
  EXPECT_EQ(fixed->dwFileType, GetParam().file_type);
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(MJ_VERSION_MINOR, MJ_VERSION_MAJOR));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, MJ_VERSION_PATCH));
  EXPECT_EQ(text("LegalCopyright"), k_copyright);
  EXPECT_EQ(text("OriginalFilename"), GetParam().file);
  EXPECT_EQ(text("FileDescription"), GetParam().description);
  EXPECT_EQ(text("ProductName"), "veltrano-mouse-jiggler");
  EXPECT_EQ(text("FileVersion"), MJ_VERSION_STRING);
}

INSTANTIATE_TEST_SUITE_P(Package, EveryBinary, ::testing::ValuesIn(k_binaries));

}  // namespace

extern "C" const char *header_c_version(char *macros, size_t size);

namespace {

// The header's version macros name the version the DLL reports, in C and C++.
TEST(Header, VersionMacrosMatchTheDll) {
  static_assert(MJ_VERSION_MAJOR == 1 && MJ_VERSION_MINOR == 0 && MJ_VERSION_PATCH == 0, "version 1.0.0");
  EXPECT_STREQ(MJ_VERSION_STRING, mj_version());
  char joined[32];
  snprintf(joined, sizeof joined, "%d.%d.%d", MJ_VERSION_MAJOR, MJ_VERSION_MINOR, MJ_VERSION_PATCH);
  EXPECT_STREQ(joined, mj_version());

  char from_c[64];
  EXPECT_STREQ(header_c_version(from_c, sizeof from_c), mj_version());
  EXPECT_EQ(std::string(from_c), std::string(mj_version()) + "|" + mj_version());
}

// The function-pointer types fit the exports taken by name, as a host of
// GetProcAddress takes them: a call through each gives what the direct call
// gives.
TEST(Header, FunctionPointerTypesCallTheExports) {
  HMODULE dll = GetModuleHandleA("veltrano-mouse-jiggler.dll");
  ASSERT_NE(dll, nullptr);
  mj_version_fn version =
      reinterpret_cast<mj_version_fn>(reinterpret_cast<void (*)(void)>(GetProcAddress(dll, "mj_version")));
  mj_idle_ms_fn idle_ms =
      reinterpret_cast<mj_idle_ms_fn>(reinterpret_cast<void (*)(void)>(GetProcAddress(dll, "mj_idle_ms")));
  mj_last_error_fn last_error =
      reinterpret_cast<mj_last_error_fn>(reinterpret_cast<void (*)(void)>(GetProcAddress(dll, "mj_last_error")));
  ASSERT_TRUE(version && idle_ms && last_error);
  EXPECT_EQ(version(), mj_version());
  EXPECT_EQ(last_error(), mj_last_error());
  EXPECT_NE(idle_ms(), -2);
  mj_start_fn start = mj_start;
  mj_stop_fn stop = mj_stop;
  mj_status_fn status = mj_status;
  mj_nudge_now_fn nudge_now = mj_nudge_now;
  EXPECT_TRUE(start && stop && status && nudge_now);
}

}  // namespace
