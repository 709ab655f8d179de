// The local side of a transfer. Paths are Windows paths, translated by the kernel layer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kernel/fd.h"
#include "outcome.h"

namespace inet {

// A download's file: written beside the target and renamed over it only when the whole file has
// arrived, so a failed or cancelled download leaves the target as it was.
//
// A binary download writes the target's partial file, `.NAME.part`, one per target, locked while a
// download writes it. Beside it, `.NAME.part.info` records which remote file its bytes came from
// (target, server, user, path, size, modification time). A download that ends early keeps both, and
// the next download of the same remote file into the same target continues where it stopped. The
// record is written before the first byte of a remote file goes into the partial file, and the
// partial file is emptied before a record of another remote file replaces it: its bytes are always a
// beginning of the file its record names (or none), never a mix of two versions.
//
// An ASCII download, or one whose target's partial file another download is writing, goes to a
// temporary of its own, `.NAME.XXXXXXXX.part`, removed after a failure.
class DownloadFile {
 public:
  enum class Kind { Partial, Temporary };

  DownloadFile() = default;
  DownloadFile(const DownloadFile&) = delete;
  DownloadFile& operator=(const DownloadFile&) = delete;
  // Not committed: a labelled partial file that holds bytes stays, with its record, for a later
  // download; any other file this download made or emptied goes. A partial file it never touched stays
  // as it was.
  ~DownloadFile();

  // readOnly: the target gets no write permission (FILE_ATTRIBUTE_READONLY). `wanted` Partial may
  // still give a Temporary (kind()) when the partial file is busy or cannot be used.
  Outcome open(std::string_view windowsPath, bool failIfExists, bool readOnly, Kind wanted);
  Kind kind() const { return kind_; }
  // The partial file's name (without its directory), for the trace.
  const std::string& name() const { return name_; }
  // A partial file with bytes and a record is there from an earlier download: it may be continued.
  bool continuable() const { return kind_ == Kind::Partial && existing_ > 0 && !record_.empty(); }
  // A record of the remote file is written: should the download end early, its bytes stay.
  bool labelled() const { return state_ == State::Labelled; }

  // The remote file this download fetches, in the record's words (lines that name it, after the
  // target's), and its size. The partial file is kept when its record is this one and it is not
  // longer than `size`; otherwise it is emptied and this record written. `kept`: the bytes kept, where
  // the download continues; `why`: what was thrown away and why (empty when nothing was).
  Outcome label(std::string_view identity, uint64_t size, uint64_t& kept, std::string& why);
  // No record can be made (no size or time from the server, no REST there): the partial file starts
  // empty and goes after a failure. `why` as for label().
  Outcome unlabelled(std::string& why);
  // The server will send from the beginning after all: emptied; the record stays, it still holds.
  Outcome restart();
  // Where the next write goes: the bytes kept by label().
  Outcome seek(uint64_t offset);
  Outcome write(const char* data, size_t size);
  Outcome commit();

 private:
  enum class State { Untouched, Labelled, Unlabelled, Done };
  Outcome openPartial(const std::string& directory, const std::string& base);
  Outcome openTemporary(const std::string& directory, const std::string& base, bool readOnly);
  Outcome empty();
  std::string recordOf(std::string_view identity) const;
  bool writeRecord(const std::string& record);
  void removeRecord();
  void discard();

  Kind kind_ = Kind::Temporary;
  State state_ = State::Untouched;
  std::string target_;
  std::string path_;    // the file written: the partial file or the temporary
  std::string record_;  // Partial: the record found beside it; then the one written
  std::string recordPath_;
  std::string name_;
  kernel::UniqueFd fd_;
  uint64_t existing_ = 0;
  bool created_ = false;  // the partial file did not exist before this download
  bool failIfExists_ = false;
  bool readOnly_ = false;
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
