#include "find.h"

#include <cstdio>
#include <cstring>

#include "address.h"
#include "transfer.h"

namespace inet {

namespace {

// A server's bytes as the trace shows them: control bytes escaped, long texts cut.
std::string shown(std::string_view text, size_t limit) {
  std::string out;
  for (size_t i = 0; i < text.size() && i < limit; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (text.size() > limit) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

}  // namespace

void ListingSink::traceSkipped(std::string_view why, std::string_view text) {
  if (!trace_.on() || traced_ > kMaxTracedLines) return;
  if (++traced_ > kMaxTracedLines)
    trace_.note("listing: more lines left out; they are only counted");
  else
    trace_.note(std::string(why) + ": \"" + shown(text, kMaxTracedBytes) + "\"");
}

Outcome ListingSink::line(std::string_view text) {
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (text.empty()) return Outcome::success();
  RemoteEntry entry;
  LineKind kind = facts_ ? parseFactsLine(text, entry) : parseListLine(text, today_, entry);
  if (kind == LineKind::Unparsed) {
    ++unparsed_;
    traceSkipped("listing line not understood", text);
  }
  if (kind != LineKind::Entry) return Outcome::success();
  if (!usableName(entry.name)) {
    ++unusable_;
    traceSkipped("listing entry left out, its name cannot be a local file name", entry.name);
    return Outcome::success();
  }
  if (entries_.size() >= kMaxEntries) return Outcome::failure(ERROR_NOT_ENOUGH_MEMORY);
  entries_.push_back(std::move(entry));
  return Outcome::success();
}

Outcome ListingSink::write(const char* data, size_t size) {
  while (size > 0) {
    const char* lf = static_cast<const char*>(std::memchr(data, '\n', size));
    size_t take = lf ? static_cast<size_t>(lf - data) : size;
    if (!overlong_) {
      if (partial_.size() + take > kMaxLine) {
        overlong_ = true;
        const std::string_view start =
            partial_.empty() ? std::string_view(data, take) : std::string_view(partial_);
        traceSkipped("listing line longer than " + std::to_string(kMaxLine) + " bytes skipped, it begins",
                     start.substr(0, kMaxTracedBytes));
        partial_.clear();
        ++unparsed_;
      } else if (lf && partial_.empty()) {
        if (Outcome o = line(std::string_view(data, take)); !o.ok()) return o;  // the common case: no copy
      } else {
        partial_.append(data, take);
        if (lf) {
          if (Outcome o = line(partial_); !o.ok()) return o;
          partial_.clear();
        }
      }
    }
    if (!lf) break;
    overlong_ = false;
    data += take + 1;
    size -= take + 1;
  }
  return Outcome::success();
}

Outcome ListingSink::finish() {
  Outcome o = overlong_ ? Outcome::success() : line(partial_);
  partial_.clear();
  return o;
}

Lookup::Lookup(std::string path, Features& features, DataPath& data, Place& place, RemoteEntry& out,
               Mode mode)
    : path_(std::move(path)), features_(features), data_(data), place_(place), out_(out), mode_(mode) {}

Step Lookup::start() {
  out_ = RemoteEntry{};
  out_.name = baseName(path_);
  if (mode_ == Mode::Entry && features_.mlst) {
    state_ = State::Mlst;
    return Step::send({"MLST", path_, false});
  }
  withTime_ = mode_ == Mode::Entry && features_.mdtm;
  return askSize();
}

Step Lookup::askSize() {
  if (data_.type != 'I' && !typeAsked_) {
    state_ = State::Type;
    return Step::send({"TYPE", "I", false});  // some servers give no SIZE in ASCII mode
  }
  state_ = State::Size;
  if (withTime_) return Step::sendBoth({"SIZE", path_, false}, {"MDTM", path_, false});
  return Step::send({"SIZE", path_, false});
}

// Into the path and back out: the logon folder is asked for once per connection.
Step Lookup::enter() {
  if (!place_.home) {
    state_ = State::Pwd;
    return Step::send({"PWD", "", false});
  }
  state_ = State::Cwd;
  return Step::send({"CWD", path_, false});
}

Step Lookup::notFound(const Reply& reply) { return Step::done(Outcome::failure(ERROR_NO_MORE_FILES, reply)); }

Step Lookup::afterMlst(const Reply& r) {
  if (r.code == 500 || r.code == 502) {  // FEAT promised more than the server does
    features_.mlst = false;
    withTime_ = features_.mdtm;
    return askSize();
  }
  if (!r.completion()) return notFound(r);
  // "250-Listing path", " facts; name", "250 End": the entry is the line that starts with a blank.
  std::string_view text = r.text;
  size_t at = text.find("\r\n ");
  if (at == std::string_view::npos) return notFound(r);
  std::string_view line = text.substr(at + 3);
  line = line.substr(0, line.find("\r\n"));
  RemoteEntry parsed;
  if (parseFactsLine(line, parsed) != LineKind::Entry) return notFound(r);
  parsed.name = out_.name;
  out_ = std::move(parsed);
  // Facts of the link itself (pure-ftpd): what it leads to is found as for a listed link.
  if (out_.link) return askSize();
  // proftpd answers with the target's type but the link's own size and mode, and a link's mode is 0777:
  // such a file's size comes from SIZE, which follows links. A real file of that mode costs one SIZE.
  if (!out_.directory && out_.unixMode == 0777u) {
    sizeOnly_ = true;
    return askSize();
  }
  return Step::done(Outcome::success());
}

Step Lookup::onReply(const Reply& r) {
  switch (state_) {
    case State::Mlst:
      return afterMlst(r);
    case State::Type:
      typeAsked_ = true;
      if (r.completion()) {
        data_.type = 'I';
        data_.typeReply = r;
      } else {
        data_.type = 0;  // refused: SIZE may still answer
      }
      return askSize();
    case State::Size:
      if (r.code == 213) {
        if (auto size = parseSize(std::string_view(r.text).substr(r.text.size() > 4 ? 4 : r.text.size()))) {
          out_.size = size;
          out_.directory = false;
        }
        if (!withTime_) return Step::done(Outcome::success());
        state_ = State::Mdtm;
        return Step::awaitReply();  // MDTM went with SIZE
      }
      if (sizeOnly_) return Step::done(Outcome::success());
      if (withTime_) {
        state_ = State::MdtmOfNoFile;
        return Step::awaitReply();
      }
      return enter();
    case State::MdtmOfNoFile:
      return enter();
    case State::Mdtm:
      if (r.code == 213 && r.text.size() >= 18) {
        RemoteEntry stamp;
        if (parseFactsLine("type=file;modify=" + r.text.substr(4, 14) + "; x", stamp) == LineKind::Entry)
          out_.modified = stamp.modified;
      }
      return Step::done(Outcome::success());
    case State::Pwd:
      if (r.code == 257)
        if (auto home = parseQuotedPath(r.text)) place_.home = *home;
      state_ = State::Cwd;
      return Step::send({"CWD", path_, false});
    case State::Cwd:
      if (!r.completion()) return notFound(r);
      out_.directory = true;
      out_.size.reset();
      if (!place_.home) {
        place_.astray = true;  // no way back to a folder nobody named
        return Step::done(Outcome::success());
      }
      state_ = State::Back;
      return Step::send({"CWD", *place_.home, false});
    case State::Back:
      if (!r.completion()) place_.astray = true;
      return Step::done(Outcome::success());
  }
  return Step::done(Outcome::failure(ERROR_INTERNET_INTERNAL_ERROR));
}

namespace {

Outcome listDirectory(Ftp& ftp, const SearchPlan& plan, bool facts, ListingSink& sink) {
  DataTransfer transfer(ftp.dataPath(), 'A', {facts ? "MLSD" : "LIST", plan.directory, false}, &sink,
                        nullptr);
  return ftp.run(transfer);
}

// A listed name as a path the server takes from the logon folder.
std::string pathIn(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  return directory.back() == '/' ? directory + name : directory + "/" + name;
}

// One probe per link the listing could not tell the target of. A probe's refusal is an answer, not a
// fault: the listing stays a success.
Outcome resolveLinks(Ftp& ftp, const std::string& directory, std::vector<RemoteEntry>& entries) {
  for (RemoteEntry& e : entries) {
    if (!e.link || ftp.place().astray) continue;
    RemoteEntry target;
    Lookup probe(pathIn(directory, e.name), ftp.features(), ftp.dataPath(), ftp.place(), target,
                 Lookup::Mode::Target);
    Outcome o = ftp.run(probe);
    if (o.error == ERROR_INVALID_PARAMETER) {  // a name no command may carry (a CR in it): as listed
      ftp.trace().note("link \"" + shown(e.name, ListingSink::kMaxTracedBytes) +
                       "\": not asked about, its name cannot go in a command");
      continue;
    }
    if (!o.ok() && o.error != ERROR_NO_MORE_FILES) return o;
    e.directory = o.ok() && target.directory;
    e.size = o.ok() ? target.size : std::nullopt;
    ftp.trace().note("link \"" + shown(e.name, ListingSink::kMaxTracedBytes) + "\": " +
                     (!o.ok()       ? std::string("leads nowhere")
                      : e.directory ? std::string("a directory")
                      : e.size      ? "a file of " + std::to_string(*e.size) + " bytes"
                                    : std::string("a file")));
  }
  return Outcome::success();
}

}  // namespace

Outcome find(Ftp& ftp, const SearchPlan& plan, std::vector<RemoteEntry>& out) {
  out.clear();
  if (plan.kind == SearchPlan::Kind::LookUp) {
    RemoteEntry entry;
    Lookup lookup(plan.path, ftp.features(), ftp.dataPath(), ftp.place(), entry);
    if (Outcome o = ftp.run(lookup); !o.ok()) return o;
    if (!entry.directory && entry.size) ftp.rememberSize(plan.path, *entry.size);
    out.push_back(std::move(entry));
    return Outcome::success();
  }

  bool facts = ftp.features().mlst;
  ListingSink sink(facts, today(), ftp.trace());
  Outcome o = listDirectory(ftp, plan, facts, sink);
  if (!o.ok() && facts && o.reply && (o.reply->code == 500 || o.reply->code == 502)) {
    ftp.features().mlst = false;
    sink = ListingSink(false, today(), ftp.trace());
    o = listDirectory(ftp, plan, false, sink);
  }
  if (!o.ok()) return o;

  for (RemoteEntry& e : sink.entries())
    if (matchesMask(plan.mask, e.name)) out.push_back(std::move(e));
  if (sink.unparsed() || sink.unusable())
    ftp.trace().note("listing: " + std::to_string(sink.entries().size()) + " entries, " +
                     std::to_string(sink.unparsed()) + " lines not understood, " +
                     std::to_string(sink.unusable()) + " names that cannot be local file names left out");
  if (out.empty()) return Outcome::failure(ERROR_NO_MORE_FILES, ftp.lastReply());
  // The listing's own end is the request's last word, whatever the probes after it were told.
  const Reply listed = ftp.lastReply();
  if (Outcome linked = resolveLinks(ftp, plan.directory, out); !linked.ok()) return linked;
  return Outcome{ERROR_SUCCESS, listed};
}

}  // namespace inet
