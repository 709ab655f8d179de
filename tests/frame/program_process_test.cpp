// The program binary: it starts, ends with exit code 0 when its session ends, and leaves its settings
// file holding the section list; without a display it says so and fails.
#include "program_process.h"

#include <gtest/gtest.h>

#include "ftp_servers.h"

namespace {

namespace ts = testsupport;
using namespace std::chrono_literals;

TEST(ProgramProcess, EndsWithExitCodeZeroAndWritesItsSettingsFile) {
  ts::TempDir config("program-config");
  ts::TempDir runtime("program-runtime");
  const std::string output = (config / "output.txt").string();
  // Asked to end at once and after its windows are up: both must end cleanly.
  for (const auto settle : {0ms, 500ms}) {
    std::filesystem::remove(config / "tarnwick.INI");
    const auto code = programtest::runAndTerminate(
        TARNWICK, {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + config.path().string()}, settle, output);
    ASSERT_TRUE(code.has_value()) << "the program did not end";
    EXPECT_EQ(*code, 0) << ts::readFile(output).value_or("");
    EXPECT_EQ(ts::readFile(config / "tarnwick.INI"), "[__Dont_Touch_Me__]\nSectors=0\n");
  }
}

TEST(ProgramProcess, WithoutADisplayItSaysWhyAndFails) {
  ts::TempDir config("program-config");
  const std::string output = (config / "output.txt").string();
  const auto code = programtest::runAndTerminate(
      TARNWICK,
      {"-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM", "XDG_CONFIG_HOME=" + config.path().string()}, 0ms,
      output);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 1);
  EXPECT_NE(ts::readFile(output).value_or("").find("tarnwick: "), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(config / "tarnwick.INI"));
}

}  // namespace
