#include "lines.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace cli {
namespace {

std::string text(const QJsonObject& o, const char* key) { return o.value(key).toString().toStdString(); }

std::uint64_t count(const QJsonObject& o, const char* key) {
  const double v = o.value(key).toDouble();
  return v > 0 ? static_cast<std::uint64_t>(v) : 0;
}

std::string grouped(std::uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// Not through the locale, which the toolkit takes at start: the lines read the same everywhere.
std::string secondsText(double s) {
  const long long hundredths = s > 0 ? static_cast<long long>(s * 100 + 0.5) : 0;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%lld.%02lld s", hundredths / 100, hundredths % 100);
  return buffer;
}

}  // namespace

std::variant<std::monostate, FileLine, SummaryLine> parseReportLine(std::string_view line) {
  const QJsonDocument document =
      QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size())));
  if (!document.isObject()) return std::monostate{};
  const QJsonObject o = document.object();
  const QString type = o.value("type").toString();
  if (type == "file") {
    FileLine f;
    f.name = text(o, "name");
    f.outcome = text(o, "outcome");
    f.bytes = count(o, "bytes");
    f.seconds = o.value("seconds").toDouble();
    f.replyCode = static_cast<std::uint32_t>(count(o, "reply_code"));
    f.reply = text(o, "reply");
    f.error = static_cast<std::uint32_t>(count(o, "error"));
    f.errorText = text(o, "error_text");
    return f;
  }
  if (type == "summary") {
    SummaryLine s;
    s.files = count(o, "files");
    s.done = count(o, "done");
    s.missing = count(o, "missing");
    s.transient = count(o, "failed-transient");
    s.permanent = count(o, "failed-permanent");
    s.local = count(o, "local-error");
    s.stopped = count(o, "stopped");
    s.bytes = count(o, "bytes");
    s.seconds = o.value("seconds").toDouble();
    return s;
  }
  return std::monostate{};
}

std::string describe(const FileLine& f) {
  std::string line = f.outcome;
  line.resize(std::max<std::size_t>(line.size() + 1, 18), ' ');
  line += printable(f.name) + "  ";
  if (f.outcome == "done") return line + grouped(f.bytes) + " bytes in " + secondsText(f.seconds);
  // A multi-line reply: its last line says what happened.
  std::string reply = f.reply;
  if (const std::size_t end = reply.rfind('\n'); end != std::string::npos) reply = reply.substr(end + 1);
  // The reply is the cause of a server's refusal; after a local failure it is only the last one heard.
  if (!reply.empty() && f.replyCode >= 400 && f.error >= 12000)
    line += printable(reply);
  else if (!f.errorText.empty())
    line += printable(f.errorText);
  if (f.error != 0) line += " (error " + std::to_string(f.error) + ")";
  if (f.outcome == "stopped" && f.bytes > 0) line += ", after " + grouped(f.bytes) + " bytes";
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string describe(const SummaryLine& s) {
  std::string line = std::to_string(s.done) + " of " + std::to_string(s.files) +
                     (s.files == 1 ? " file" : " files") + " moved";
  const std::pair<std::uint64_t, const char*> others[] = {{s.missing, "missing"},
                                                          {s.transient, "failed-transient"},
                                                          {s.permanent, "failed-permanent"},
                                                          {s.local, "local-error"},
                                                          {s.stopped, "stopped"}};
  for (const auto& [n, name] : others)
    if (n != 0) line += ", " + std::to_string(n) + " " + name;
  return line + "; " + grouped(s.bytes) + " bytes in " + secondsText(s.seconds);
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    // C1 controls (U+0080..U+009F, "\xC2\x80".."\xC2\x9F" in UTF-8) start escape sequences on some
    // terminals as ESC does.
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      out += '?';
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      out += '?';
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string byteCountShown(std::string_view progress) {
  const std::size_t blank = progress.find(' '), end = progress.find(" bytes");
  if (blank == std::string_view::npos || end == std::string_view::npos || blank >= end ||
      progress.find(':') > blank)
    return {};
  return std::string(progress.substr(blank + 1, end + 6 - (blank + 1)));
}

}  // namespace cli
