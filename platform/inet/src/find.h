// FtpFindFirstFileA's work: a directory listed (MLSD when the server has it, LIST otherwise) and
// filtered by the search mask, or one entry looked up without listing its directory (MLST, or SIZE
// for a file and CWD to tell a directory), so a lookup costs the same in any directory.
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
  // One command where the server has MLST; otherwise SIZE with MDTM right behind it (one round trip),
  // after a TYPE I only when another type is in force.
  Lookup(std::string path, Features& features, DataPath& data, RemoteEntry& out);
  Step start() override;
  Step onReply(const Reply& reply) override;

 private:
  enum class State { Mlst, Type, Size, Mdtm, MdtmOfNoFile, Pwd, Cwd, Back };
  Step notFound(const Reply& reply);
  Step askSize();

  std::string path_;
  Features& features_;
  DataPath& data_;
  RemoteEntry& out_;
  std::string home_;
  State state_ = State::Mlst;
  bool typeAsked_ = false;
};

}  // namespace inet
