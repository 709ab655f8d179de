// nimbo-batch's command line, netrc reading and output lines on their own.
#include <gtest/gtest.h>

#include <cstring>

#include "arguments.h"
#include "lines.h"
#include "netrc.h"

namespace {

using namespace cli;

Url url(std::string_view text) {
  auto parsed = parseUrl(text);
  if (auto* error = std::get_if<UrlError>(&parsed)) ADD_FAILURE() << text << ": " << error->message;
  return std::get_if<Url>(&parsed) ? std::get<Url>(parsed) : Url{};
}

std::optional<UrlError> urlError(std::string_view text) {
  auto parsed = parseUrl(text);
  if (auto* error = std::get_if<UrlError>(&parsed)) return *error;
  return std::nullopt;
}

TEST(Arguments, UrlsGiveTheBatchItsServerUserAndFolder) {
  struct Case {
    const char* text;
    const char* server;
    const char* user;
    const char* directory;
    const char* machine;
  };
  for (const Case& c : {
           Case{"ftp://ftp.example.org", "ftp.example.org", "", "/", "ftp.example.org"},
           Case{"FTP://ann@Host-1.example:2121/pub/in%20coming/", "Host-1.example:2121", "ann",
                "/pub/in coming/", "Host-1.example"},
           Case{"ftpes://a%40b.c@127.0.0.1/x", "ftpes://127.0.0.1", "a@b.c", "/x", "127.0.0.1"},
           Case{"ftps://[::1]:990/%C3%BCber", "ftps://[::1]:990", "",
                "/\xC3\xBC"
                "ber",
                "::1"},
           Case{"ftp://h:021/", "h:21", "", "/", "h"},
       }) {
    const Url u = url(c.text);
    EXPECT_EQ(u.serverName(), c.server) << c.text;
    EXPECT_EQ(u.user, c.user) << c.text;
    EXPECT_EQ(u.directory, c.directory) << c.text;
    EXPECT_EQ(u.machine(), c.machine) << c.text;
  }
  for (const char* bad :
       {"example.org/pub", "http://h/", "sftp://h/", "ftp:///pub", "ftp://h:/", "ftp://h:0/",
        "ftp://h:65536/", "ftp://h:21x/", "ftp://[::1/", "ftp://[zz]/", "ftp://h/a%2", "ftp://h/a%zz",
        "ftp://h/a%0Ab", "ftp://h/a?b", "ftp://@h/", "ftp://h h/"})
    EXPECT_TRUE(urlError(bad)) << bad;
  for (const char* withPassword : {"ftp://ann:secret@h/", "ftp://ann:@h/", "ftps://:x@h/"}) {
    const auto error = urlError(withPassword);
    ASSERT_TRUE(error) << withPassword;
    EXPECT_TRUE(error->passwordGiven) << withPassword;
    EXPECT_EQ(error->message.find("secret"), std::string::npos);
  }
}

TEST(Arguments, OptionsNamesAndPasswordsWiped) {
  const auto parsed = parseArguments({"--upload", "--report=r.jsonl", "--active", "ftp://h/", "dir", "a, b"});
  ASSERT_TRUE(std::holds_alternative<Options>(parsed));
  const Options& o = std::get<Options>(parsed);
  EXPECT_TRUE(o.upload && o.active);
  EXPECT_EQ(o.report, "r.jsonl");
  EXPECT_EQ(o.names, "a, b");
  EXPECT_TRUE(std::get<Options>(parseArguments({"--", "-odd", "dir", "a"})).url == "-odd");
  EXPECT_TRUE(std::get<Options>(parseArguments({"--help"})).help);
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--verbose", "u", "d", "n"}, {"u", "d"}, {"u", "d", "n", "m"}, {"--report"}})
    EXPECT_TRUE(std::holds_alternative<UsageError>(parseArguments(bad))) << bad[0];
  EXPECT_TRUE(std::get<UsageError>(parseArguments({"--password=x", "u", "d", "n"})).passwordGiven);

  EXPECT_EQ(std::get<std::vector<std::string>>(splitNames(" a.txt ,!how to.txt,b")),
            (std::vector<std::string>{"a.txt", "!how to.txt", "b"}));
  const std::string longName = "2024-06-15 Quarterly Report - Final Version (approved by board).pdf";
  EXPECT_EQ(std::get<std::vector<std::string>>(splitNames("a," + longName)),
            (std::vector<std::string>{"a", longName}))
      << "a name the list can carry is kept whole";
  for (const std::string& bad :
       {std::string("a,,b"), std::string("a,"), std::string(""), std::string(1025, 'n')})
    EXPECT_TRUE(std::holds_alternative<std::string>(splitNames(bad))) << bad.size();

  char a0[] = "nimbo-batch", a1[] = "ftp://ann:s3cret@h:21/pub", a2[] = "--password", a3[] = "hunter2",
       a4[] = "--password=x2", a5[] = "ftp://h/a:b@c";
  char* argv[] = {a0, a1, a2, a3, a4, a5};
  wipePasswords(6, argv);
  EXPECT_STREQ(a1, "ftp://ann:******@h:21/pub");
  EXPECT_STREQ(a3, "*******");
  EXPECT_STREQ(a4, "--password=**");
  EXPECT_STREQ(a5, "ftp://h/a:b@c") << "an @ in the folder is no login";
}

TEST(Netrc, EntriesForTheHostAndUserThenTheDefault) {
  const std::string text = R"(# logins
machine other.example login bob password b0b
macdef init
  cd /pub
  machine ftp.example.org login mallory password inside-a-macro

machine FTP.example.org
  login ann password "two words \" quoted"
machine ftp.example.org login carl password c4rl account x # carl's
default login anonymous password guest@example.org
)";
  auto ann = netrcLookup(text, "ftp.example.org", "");
  ASSERT_TRUE(ann);
  EXPECT_EQ(ann->login, "ann");
  EXPECT_EQ(ann->password, "two words \" quoted");
  auto carl = netrcLookup(text, "ftp.example.org", "carl");
  ASSERT_TRUE(carl);
  EXPECT_EQ(carl->password, "c4rl");
  auto fallback = netrcLookup(text, "unknown.example", "");
  ASSERT_TRUE(fallback);
  EXPECT_EQ(fallback->login, "anonymous");
  EXPECT_FALSE(netrcLookup(text, "unknown.example", "dave"));
  EXPECT_FALSE(netrcLookup("machine h login x", "h", "")->hasPassword);
}

TEST(Lines, ReportLinesPrintedSafely) {
  const auto file = parseReportLine(
      R"({"type":"file","name":"b\u001b[2Jx","outcome":"failed-permanent","bytes":0,"seconds":0.5,)"
      R"("reply_code":550,"reply":"550-Denied\r\n550 Not yours.","error":12003,"error_text":"The server reported an error"})");
  ASSERT_TRUE(std::holds_alternative<FileLine>(file));
  EXPECT_EQ(describe(std::get<FileLine>(file)), "failed-permanent  b?[2Jx  550 Not yours. (error 12003)");
  const auto done =
      parseReportLine(R"({"type":"file","name":"a","outcome":"done","bytes":1234567,"seconds":1.5})");
  EXPECT_EQ(describe(std::get<FileLine>(done)), "done              a  1,234,567 bytes in 1.50 s");
  const auto summary = parseReportLine(
      R"({"type":"summary","files":3,"done":1,"missing":1,"stopped":1,"bytes":10,"seconds":2})");
  EXPECT_EQ(describe(std::get<SummaryLine>(summary)),
            "1 of 3 files moved, 1 missing, 1 stopped; 10 bytes in 2.00 s");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(parseReportLine("{\"type\":\"file\"")));
  EXPECT_EQ(byteCountShown("Received: 123 bytes."), "123 bytes");
  EXPECT_EQ(byteCountShown("Received: 123 bytes (resumed at byte 456)."), "123 bytes");
  EXPECT_EQ(byteCountShown("Finished"), "");
  EXPECT_EQ(byteCountShown("Download complete bytes"), "");
  EXPECT_EQ(printable("a\xC2\x9B"
                      "31mb\xC3\xBC"),
            "a?31mb\xC3\xBC");
}

}  // namespace
