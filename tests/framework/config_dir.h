// A private configuration directory for one test: XDG_CONFIG_HOME points at a fresh temporary
// directory for the test's life, so a bare INI name resolves there.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace framework::testing {

class ConfigDir {
 public:
  ConfigDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "framework-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "cannot create a temporary directory";
    path_ = pattern;
    const char* old = ::getenv("XDG_CONFIG_HOME");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    ::setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
  }
  ~ConfigDir() {
    if (hadOld_)
      ::setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    else
      ::unsetenv("XDG_CONFIG_HOME");
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ConfigDir(const ConfigDir&) = delete;
  ConfigDir& operator=(const ConfigDir&) = delete;

  std::filesystem::path file(const std::string& name) const { return path_ / name; }

  void write(const std::string& name, const std::string& text) const {
    std::ofstream(file(name), std::ios::binary) << text;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::filesystem::path path_;
  bool hadOld_ = false;
  std::string old_;
};

}  // namespace framework::testing
