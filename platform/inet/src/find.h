// FtpFindFirstFileA's work: a directory listed (MLSD when the server has it, LIST otherwise) and
// filtered by the search mask, or one entry looked up without listing its directory (MLST, or SIZE
// for a file and CWD to tell a directory), so a lookup costs the same in any directory.
//
// Symbolic links are shown as what they lead to: a link to a directory is a directory, a link to a
// file is that file with its size. Where the listing's own facts say so (pyftpdlib's MLSD) nothing more
// is sent; a link the listing names as a link ("l" in LIST, "OS.unix=slink" or "=symlink" in MLSD) gets
// one probe on the same connection: SIZE, which follows the link (a size: a file), else CWD into it and
// back (a directory), else it leads nowhere and stays a file without a size, whose download the server
// will refuse with its reason.
#pragma once

#include <vector>

#include "ftp.h"
#include "listing_parser.h"
#include "operation.h"
#include "search.h"

namespace inet {

// Fails with ERROR_NO_MORE_FILES when nothing matched, ERROR_INTERNET_EXTENDED_ERROR when the server
// refused the listing, ERROR_NOT_ENOUGH_MEMORY past kMaxEntries.
Outcome find(Ftp& ftp, const SearchPlan& plan, std::vector<RemoteEntry>& out);

// Splits listing data into lines and parses them as they come. Every line it cannot use (not
// understood, too long, or naming an entry that cannot be a local file) is written to the trace, so
// a user whose listing shows fewer files than expected can see why.
class ListingSink final : public DataSink {
 public:
  static constexpr size_t kMaxLine = 16384;
  static constexpr size_t kMaxEntries = 1000000;
  // A hostile listing must not fill the disk through the trace: past these, lines are only counted.
  static constexpr size_t kMaxTracedLines = 1000;
  static constexpr size_t kMaxTracedBytes = 512;

  ListingSink(bool facts, Today today, Trace trace = {})
      : facts_(facts), today_(today), trace_(std::move(trace)) {}
  Outcome write(const char* data, size_t size) override;
  Outcome finish() override;

  std::vector<RemoteEntry>& entries() { return entries_; }
  size_t unparsed() const { return unparsed_; }
  size_t unusable() const { return unusable_; }

 private:
  Outcome line(std::string_view text);
  void traceSkipped(std::string_view why, std::string_view text);

  bool facts_;
  Today today_;
  std::string partial_;
  bool overlong_ = false;  // the line being read passed kMaxLine: skip to its end
  std::vector<RemoteEntry> entries_;
  size_t unparsed_ = 0;
  size_t unusable_ = 0;
  Trace trace_;
  size_t traced_ = 0;
};

class Lookup final : public Operation {
 public:
  enum class Mode {
    // The entry at the path: one command where the server has MLST; otherwise SIZE with MDTM right
    // behind it (one round trip), after a TYPE I only when another type is in force (some servers give
    // no SIZE in ASCII mode); CWD and back for a directory. MLST facts that describe a link rather than
    // its target are completed as a link's target is.
    Entry,
    // What the link at the path leads to: SIZE, else CWD and back; never MLST, whose facts may be the
    // link's own. ERROR_NO_MORE_FILES when it leads nowhere.
    Target,
  };
  Lookup(std::string path, Features& features, DataPath& data, Place& place, RemoteEntry& out,
         Mode mode = Mode::Entry);
  Step start() override;
  Step onReply(const Reply& reply) override;

 private:
  enum class State { Mlst, Type, Size, Mdtm, MdtmOfNoFile, Pwd, Cwd, Back };
  Step notFound(const Reply& reply);
  Step askSize();
  Step enter();
  Step afterMlst(const Reply& reply);

  std::string path_;
  Features& features_;
  DataPath& data_;
  Place& place_;
  RemoteEntry& out_;
  Mode mode_;
  State state_ = State::Mlst;
  bool typeAsked_ = false;
  bool withTime_ = false;  // MDTM goes with SIZE: nothing else tells the time
  bool sizeOnly_ = false;  // MLST told the type; only the size is in doubt
};

}  // namespace inet
