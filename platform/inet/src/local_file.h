// The local side of a transfer. Paths are Windows paths, translated by the kernel layer.
#pragma once

#include <string>
#include <string_view>

#include "kernel/fd.h"
#include "outcome.h"

namespace inet {

// A download's file: written under a temporary name beside the target and renamed over it only when
// the whole file has arrived, so a failed or cancelled download leaves what was there before.
class DownloadFile {
 public:
  DownloadFile() = default;
  DownloadFile(const DownloadFile&) = delete;
  DownloadFile& operator=(const DownloadFile&) = delete;
  ~DownloadFile();  // removes the temporary file unless committed

  // readOnly: the file gets no write permission (FILE_ATTRIBUTE_READONLY).
  Outcome open(std::string_view windowsPath, bool failIfExists, bool readOnly);
  Outcome write(const char* data, size_t size);
  Outcome commit();

 private:
  std::string target_;
  std::string temporary_;
  kernel::UniqueFd fd_;
  bool failIfExists_ = false;
  bool committed_ = false;
};

// An upload's source file.
class UploadFile {
 public:
  Outcome open(std::string_view windowsPath);
  // got == 0 at the end of the file.
  Outcome read(char* buffer, size_t capacity, size_t& got);
  int fd() const { return fd_.get(); }

 private:
  kernel::UniqueFd fd_;
};

}  // namespace inet
