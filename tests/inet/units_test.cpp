// The layer's parts on their own: listing parser, reply framing, line-end conversion, addresses,
// search patterns, proxy lists, and the calls' argument checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "address.h"
#include "ascii.h"
#include "find.h"
#include "inet/options.h"
#include "inet/wininet.h"
#include "last_response.h"
#include "listing_parser.h"
#include "proxy.h"
#include "reply_reader.h"
#include "search.h"
#include "trace.h"
#include "transfer.h"

using namespace inet;

namespace {

// ---- Listing lines ----

enum class Format { List, Facts };
enum class Kind { Core, Extended, NotEntry, SelfOrParent };
enum class Type { File, Directory, Link };
constexpr uint64_t kNoSize = ~0ull;

struct Line {
  Format format;
  Kind kind;
  const char* line;
  const char* name;
  uint64_t size;  // kNoSize: the line gives none, or one no file can have (2^64 - 1)
  Type type;
  const char* source;  // the public test suite the line was taken from
};

// Lines as real servers send them, with what a client must read from them, gathered from the
// listing-parser tests of public FTP clients (named in each row).
const Line kLines[] = {
    {Format::List, Kind::Core, "dr-xr-xr-x   2 root     other        512 Apr  8  1994 01-unix-std dir",
     "01-unix-std dir", 512ull, Type::Directory, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Core, "dr-xr-xr-x   2 root                  512 Apr  8  1994 03-unix-nogroup dir",
     "03-unix-nogroup dir", 512ull, Type::Directory, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Core,
     "lrwxrwxrwx   1 root     other          7 Jan 25 00:17 04-unix-std link -> usr/bin", "04-unix-std link",
     7ull, Type::Link, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Extended,
     "-rw-r--r--   1 root     other        531 2005-06-07 21:22 07-unix-date file", "07-unix-date file",
     531ull, Type::File, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Extended, "drwxrwxr-x               folder        2 May 10  1996 12-netpresenz dir",
     "12-netpresenz dir", 2ull, Type::Directory, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Extended, "-rw-r--r--   1 group domain user 531 Jan 29 03:26 13-unix-domain file",
     "13-unix-domain file", 531ull, Type::File, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Core, "04-27-00  12:09PM       <DIR>          16-dos-dateambiguous dir",
     "16-dos-dateambiguous dir", kNoSize, Type::Directory, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Core, "04-06-00  03:47PM                  589 17-dos-dateambiguous file",
     "17-dos-dateambiguous file", 589ull, Type::File, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Extended, "2002-09-02  18:48       <DIR>          18-dos-longyear dir",
     "18-dos-longyear dir", kNoSize, Type::Directory, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Extended, "2002-09-02  19:06                9,730 19-dos-longyear file",
     "19-dos-longyear file", 9730ull, Type::File, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Extended,
     "-rwxr-xr-x    1 user group        9 Oct 08, 2002 09:47 23-vshell-new file", "23-vshell-new file", 9ull,
     Type::File, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Extended, "drwxr-xr-x 3 user group 512 01 oct 2004 52-swapped-daymonth dir",
     "52-swapped-daymonth dir", 512ull, Type::Directory, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Extended, "-r--r--r-- 0125039 12 Nov 11 2005 53-noownergroup file",
     "53-noownergroup file", 12ull, Type::File, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Extended,
     "drwxr-xr-x   5 root     sys          512 2005\353\205\204  1\354\233\224  6\354\235\274 54-asian date "
     "year first dir",
     "54-asian date year first dir", 512ull, Type::Directory, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Extended, "drwxrwxrwx   1 0        0               0 29 Jul 02:27 2014 Invoices",
     "2014 Invoices", 0ull, Type::Directory, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::Core,
     "-rw-------      1  99999999 0              3 Apr   4 24:00 alternate_midnight", "alternate_midnight",
     3ull, Type::File, "storj-thirdparty/FileZilla"},
    {Format::Facts, Kind::Core, "Type=file;mOdIfY=20081105165215;size=1234; 72-MLSD-file", "72-MLSD-file",
     1234ull, Type::File, "storj-thirdparty/FileZilla"},
    {Format::Facts, Kind::Core, "Type=file; 74-MLSD-whitespace trailing\011 ",
     "74-MLSD-whitespace trailing\011 ", kNoSize, Type::File, "storj-thirdparty/FileZilla"},
    {Format::Facts, Kind::Core, "Type=file; \011 75-MLSD-whitespace leading",
     "\011 75-MLSD-whitespace leading", kNoSize, Type::File, "storj-thirdparty/FileZilla"},
    {Format::Facts, Kind::Core,
     "modify=20080426135501;perm=;size=65718921;type=file;unique=802U1066013B;UNIX.group=1179;UNIX.mode=00;"
     "UNIX.owner=1179; 75 MLSD file with empty permissions",
     "75 MLSD file with empty permissions", 65718921ull, Type::File, "storj-thirdparty/FileZilla"},
    {Format::Facts, Kind::Core, "type=OS.unix=slink:/foo; 76 MLSD symlink", "76 MLSD symlink", kNoSize,
     Type::Link, "storj-thirdparty/FileZilla"},
    {Format::Facts, Kind::Core, "type=OS.UNIX=symlink; 76b MLSD symlink", "76b MLSD symlink", kNoSize,
     Type::Link, "storj-thirdparty/FileZilla"},
    {Format::Facts, Kind::Core, "type=OS.unix=slink; 77 MLSD symlink notarget", "77 MLSD symlink notarget",
     kNoSize, Type::Link, "storj-thirdparty/FileZilla"},
    {Format::Facts, Kind::Extended,
     "size=1365694195;type=file;modify=20090722092510;\011adsl TV 2009-07-22 08-25-10 78 mlsd file that can "
     "get parsed as unix.file",
     "adsl TV 2009-07-22 08-25-10 78 mlsd file that can get parsed as unix.file", 1365694195ull, Type::File,
     "storj-thirdparty/FileZilla"},
    {Format::Facts, Kind::Core, "Type=file;mOdIfY=19681105165215;size=1234; MLSD pre-epoch", "MLSD pre-epoch",
     1234ull, Type::File, "storj-thirdparty/FileZilla"},
    {Format::List, Kind::NotEntry, "total 20", nullptr, kNoSize, Type::File, "curl/curl"},
    {Format::List, Kind::SelfOrParent, "drwxr-xr-x   8 98       98           512 Oct 22 13:06 .", ".", 512ull,
     Type::Directory, "curl/curl"},
    {Format::List, Kind::SelfOrParent, "drwxr-xr-x   8 98       98           512 Oct 22 13:06 ..", "..",
     512ull, Type::Directory, "curl/curl"},
    {Format::List, Kind::Core, "drwxr-xr-x   2 98       98           512 May  2  1996 .NeXT", ".NeXT", 512ull,
     Type::Directory, "curl/curl"},
    {Format::List, Kind::Core, "-r--r--r--   1 0        1             35 Jul 16  1996 README", "README",
     35ull, Type::File, "curl/curl"},
    {Format::List, Kind::Core, "lrwxrwxrwx   1 0        1              7 Dec  9  1999 bin -> usr/bin", "bin",
     7ull, Type::Link, "curl/curl"},
    {Format::List, Kind::Core, "drwxrwxrwx   2 98       98           512 May 29 16:04 download.html",
     "download.html", 512ull, Type::Directory, "curl/curl"},
    {Format::List, Kind::Core, "drwxrwxrwx   2 98       1            512 Oct 30 14:33 pub", "pub", 512ull,
     Type::Directory, "curl/curl"},
    {Format::List, Kind::SelfOrParent, "drwxrwxrwx    4 ftp-default ftp-default   20480 Apr 27  5:12 .", ".",
     20480ull, Type::Directory, "curl/curl"},
    {Format::List, Kind::Core, "-r--r--r--    1 ftp-default ftp-default      38 Jan 11 10:00 chmod1",
     "chmod1", 38ull, Type::File, "curl/curl"},
    {Format::List, Kind::Core, "d--S--S--t    1 ftp-default ftp-default    4096 May  4  4:31 chmod4",
     "chmod4", 4096ull, Type::Directory, "curl/curl"},
    {Format::List, Kind::Core, "-rw-r--r--    1 ftp-default ftp-default       0 Apr 27 11:01 empty_file.dat",
     "empty_file.dat", 0ull, Type::File, "curl/curl"},
    {Format::List, Kind::Core,
     "lrwxrwxrwx    1 ftp-default ftp-default       0 Jan  6  4:42 link -> file.txt", "link", 0ull,
     Type::Link, "curl/curl"},
    {Format::List, Kind::Core,
     "lrwxrwxrwx    1 ftp-default ftp-default       0 Jan  6  4:45 link_absolute -> /data/ftp/file.txt",
     "link_absolute", 0ull, Type::Link, "curl/curl"},
    {Format::List, Kind::Core, "drwxr-xrwx    2 ftp-default ftp-default    4096 Apr 23  3:12 weirddir.txt",
     "weirddir.txt", 4096ull, Type::Directory, "curl/curl"},
    {Format::List, Kind::SelfOrParent, "04-27-10  05:12AM       <DIR>          .", ".", kNoSize,
     Type::Directory, "curl/curl"},
    {Format::List, Kind::SelfOrParent, "04-23-10  03:12AM       <DIR>          ..", "..", kNoSize,
     Type::Directory, "curl/curl"},
    {Format::List, Kind::Core, "01-11-10  10:00AM                   38 chmod1", "chmod1", 38ull, Type::File,
     "curl/curl"},
    {Format::List, Kind::Core, "04-27-10  11:01AM                    0 empty_file.dat", "empty_file.dat",
     0ull, Type::File, "curl/curl"},
    {Format::List, Kind::Core, "01-23-05  02:05AM       <DIR>          .NeXT", ".NeXT", kNoSize,
     Type::Directory, "curl/curl"},
    {Format::List, Kind::Core, "-rwxr-xr-x   1 lav      root         4771 Sep 12  1996 install-sh",
     "install-sh", 4771ull, Type::File, "lavv17/lftp"},
    {Format::List, Kind::Core, "-rw-r--r--   1 lav      root         1349 Feb  2 14:10 lftp.lsm", "lftp.lsm",
     1349ull, Type::File, "lavv17/lftp"},
    {Format::List, Kind::Core, "drwxr-xr-x   4 lav      root         1024 Feb 22 15:32 lib", "lib", 1024ull,
     Type::Directory, "lavv17/lftp"},
    {Format::List, Kind::Core,
     "lrwxrwxrwx   1 lav      root           33 Feb 14 17:45 ltconfig -> /usr/share/libtool/ltconfig",
     "ltconfig", 33ull, Type::Link, "lavv17/lftp"},
    {Format::List, Kind::Core, "07-13-98  09:06PM       <DIR>          aix", "aix", kNoSize, Type::Directory,
     "lavv17/lftp"},
    {Format::List, Kind::Core, "03-18-98  06:01AM              2109440 nlxb318e.tar", "nlxb318e.tar",
     2109440ull, Type::File, "lavv17/lftp"},
    {Format::List, Kind::Core, "07-02-98  11:17AM                13844 Whatsnew.txt", "Whatsnew.txt",
     13844ull, Type::File, "lavv17/lftp"},
    {Format::Facts, Kind::SelfOrParent, "Type=cdir;Modify=20021029173810;Perm=el;Unique=BP8AAjJufAA; /", "/",
     kNoSize, Type::Directory, "lavv17/lftp"},
    {Format::Facts, Kind::SelfOrParent, "Type=pdir;Modify=20021029173810;Perm=el;Unique=BP8AAjJufAA; ..",
     "..", kNoSize, Type::Directory, "lavv17/lftp"},
    {Format::Facts, Kind::Core, "Type=dir;Modify=20010118144705;Perm=e;Unique=BP8AAjNufAA; bin", "bin",
     kNoSize, Type::Directory, "lavv17/lftp"},
    {Format::Facts, Kind::Core,
     "Type=file;Size=12303;Modify=19970124132601;Perm=r;Unique=BP8AAo9ufAA; mailserv.FAQ", "mailserv.FAQ",
     12303ull, Type::File, "lavv17/lftp"},
    {Format::List, Kind::Core, "drwxr-xr-x    3 110      1002            3 Dec 02  2009 pub", "pub", 3ull,
     Type::Directory, "jlaffaye/ftp"},
    {Format::List, Kind::Core, "drwxr-xr-x    3 110      1002            3 Dec 02  2009 p u b", "p u b", 3ull,
     Type::Directory, "jlaffaye/ftp"},
    {Format::List, Kind::Core,
     "-rw-r--r--   1 marketwired marketwired    12016 Mar 16  2016 2016031611G087802-001.newsml",
     "2016031611G087802-001.newsml", 12016ull, Type::File, "jlaffaye/ftp"},
    {Format::List, Kind::Extended, "drwxr-xr-x               folder        0 Aug 15 05:49 !!!-Tipp des Haus!",
     "!!!-Tipp des Haus!", 0ull, Type::Directory, "jlaffaye/ftp"},
    {Format::List, Kind::Extended,
     "-rw-r--r--        0   18446744073709551615 18446744073709551615 Nov 16  2006 VIDEO_TS.VOB",
     "VIDEO_TS.VOB", kNoSize, Type::File, "jlaffaye/ftp"},
    {Format::List, Kind::Core, "----------   1 owner    group         1803128 Jul 10 10:18 ls-lR.Z",
     "ls-lR.Z", 1803128ull, Type::File, "jlaffaye/ftp"},
    {Format::List, Kind::Core, "d---------   1 owner    group               0 Nov  9 19:45 Softlib",
     "Softlib", 0ull, Type::Directory, "jlaffaye/ftp"},
    {Format::List, Kind::Core, "-rwxrwxrwx   1 noone    nogroup      322 Aug 19  1996 message.ftp",
     "message.ftp", 322ull, Type::File, "jlaffaye/ftp"},
    {Format::List, Kind::Core, "drwxr-xr-x    3 110      1002            3 Dec 02  2009 spaces   dir   name",
     "spaces   dir   name", 3ull, Type::Directory, "jlaffaye/ftp"},
    {Format::List, Kind::Core, "-rwxr-xr-x    3 110      1002            1234567 Dec 02  2009  foo bar ",
     " foo bar ", 1234567ull, Type::File, "jlaffaye/ftp"},
    {Format::List, Kind::Core, "-r--------   0 user group     65222236 Feb 24 00:39 RegularFile",
     "RegularFile", 65222236ull, Type::File, "jlaffaye/ftp"},
    {Format::List, Kind::Core, "-rwxrw-r--+  1 521      101         2080 May 21 10:53 data.csv", "data.csv",
     2080ull, Type::File, "jlaffaye/ftp"},
    {Format::List, Kind::Core,
     "lrwxrwxrwx    1 0        1001           27 Jul 07  2017 R-3.4.0.pkg -> el-capitan/base/R-3.4.0.pkg",
     "R-3.4.0.pkg", 27ull, Type::Link, "jlaffaye/ftp"},
    {Format::Facts, Kind::SelfOrParent,
     "modify=20150813224845;perm=fle;type=cdir;unique=119FBB87U4;UNIX.group=0;UNIX.mode=0755;UNIX.owner=0; .",
     ".", kNoSize, Type::Directory, "jlaffaye/ftp"},
    {Format::Facts, Kind::SelfOrParent,
     "modify=20150813224845;perm=fle;type=pdir;unique=119FBB87U4;UNIX.group=0;UNIX.mode=0755;UNIX.owner=0; "
     "..",
     "..", kNoSize, Type::Directory, "jlaffaye/ftp"},
    {Format::Facts, Kind::Core,
     "modify=20150806235817;perm=fle;type=dir;unique=1B20F360U4;UNIX.group=0;UNIX.mode=0755;UNIX.owner=0; "
     "movies",
     "movies", kNoSize, Type::Directory, "jlaffaye/ftp"},
    {Format::Facts, Kind::Core,
     "Modify=20150813175250;Perm=adfr;Size=951;Type=file;Unique=119FBB87UE;UNIX.group=0;UNIX.mode=0644;UNIX."
     "owner=0; welcome.msg",
     "welcome.msg", 951ull, Type::File, "jlaffaye/ftp"},
    {Format::List, Kind::Core,
     "08-07-15  07:50PM                  718 Post_PRR_20150901_1166_265118_13049.dat",
     "Post_PRR_20150901_1166_265118_13049.dat", 718ull, Type::File, "jlaffaye/ftp"},
    {Format::List, Kind::Core, "08-10-15  02:04PM       <DIR>          Billing", "Billing", kNoSize,
     Type::Directory, "jlaffaye/ftp"},
    {Format::List, Kind::Core, "-rw-r--r--   1 500      500            21 Aug  8 14:14 JB3-TES1.gz",
     "JB3-TES1.gz", 21ull, Type::File, "apache/commons-net"},
    {Format::List, Kind::Core, "lrw-r--r--   1 14       14          80284 Aug 22  2000 zxJDBC-1.2.3.tar.gz",
     "zxJDBC-1.2.3.tar.gz", 80284ull, Type::Link, "apache/commons-net"},
    {Format::List, Kind::Core, "-rw-r--r-T   1 500      500             0 Mar 25 08:20 testSticky",
     "testSticky", 0ull, Type::File, "apache/commons-net"},
    {Format::List, Kind::Extended, "-rwsr-sr--   1 500      500             0 Mar 25 0:23 testSuidExec2",
     "testSuidExec2", 0ull, Type::File, "apache/commons-net"},
    {Format::List, Kind::Core, "drwxrwx---+ 23 500     500    0 Jan 10 13:09 testACL", "testACL", 0ull,
     Type::Directory, "apache/commons-net"},
    {Format::List, Kind::Core, "-rw-r--r--   1 1        3518644 May 25 12:12 std", "std", 3518644ull,
     Type::File, "apache/commons-net"},
    {Format::List, Kind::Core, "drwxr-xr-x 1 usernameftp 512 Jan 29 23:32 prog", "prog", 512ull,
     Type::Directory, "apache/commons-net"},
    {Format::List, Kind::Core, "-rwxrwx---   1 ftp      ftp-admin 816026400 Oct  5  2008 bloplab 7 cd1.img",
     "bloplab 7 cd1.img", 816026400ull, Type::File, "apache/commons-net"},
    {Format::List, Kind::Core, "-rw-r--r--   1 ftpuser  ftpusers 12414535 Mar 17 11:07 test 1999 abc.pdf",
     "test 1999 abc.pdf", 12414535ull, Type::File, "apache/commons-net"},
    {Format::List, Kind::Core, "-rw-rw-rw-   1 user group 5840 Mar 19 09:34 123 456 abc.csv",
     "123 456 abc.csv", 5840ull, Type::File, "apache/commons-net"},
    {Format::List, Kind::Core, "-rw-rw-r--   1 mqm        mqm          17707 Mar 12  3:33 killmq.sh.log",
     "killmq.sh.log", 17707ull, Type::File, "apache/commons-net"},
    {Format::List, Kind::Extended, "drwxr-x---+1464 chrism   chrism     41472 Feb 25 13:17 20090225",
     "20090225", 41472ull, Type::Directory, "apache/commons-net"},
    {Format::List, Kind::Extended, "drwx------ 4 maxm Domain Users 512 Oct 2 10:59 .metadata", ".metadata",
     512ull, Type::Directory, "apache/commons-net"},
    {Format::List, Kind::Extended, "drwxr-xr-x   2 john smith     group         4096 Mar  2 15:13 zxbox     ",
     "zxbox     ", 4096ull, Type::Directory, "apache/commons-net"},
    {Format::List, Kind::Extended, "drwxr-xr-x   2 john smith     group         4096 Mar  2 15:13   zxbox",
     "  zxbox", 4096ull, Type::Directory, "apache/commons-net"},
    {Format::List, Kind::Extended,
     "-rwxr-xr-x   2 user     my group 500        5000000000 Mar  2 15:13 zxbox", "zxbox", 5000000000ull,
     Type::File, "apache/commons-net"},
    {Format::List, Kind::Extended,
     "-rw-rw---- 1 ep1adm sapsys 0 6\346\234\210 3\346\227\245 2003\345\271\264 "
     "\350\251\246\351\250\223\343\203\225\343\202\241\343\202\244\343\203\253.csv",
     "\350\251\246\351\250\223\343\203\225\343\202\241\343\202\244\343\203\253.csv", 0ull, Type::File,
     "apache/commons-net"},
    {Format::List, Kind::Extended, "-rw-r-----   1 neeme neeme   346 2005-04-08 11:22 services.vsp",
     "services.vsp", 346ull, Type::File, "apache/commons-net"},
    {Format::List, Kind::Core, "05-26-95  10:57AM               143712 $LDR$", "$LDR$", 143712ull, Type::File,
     "apache/commons-net"},
    {Format::List, Kind::Core, "12-03-96  06:38AM       <DIR>          123xyz", "123xyz", kNoSize,
     Type::Directory, "apache/commons-net"},
    {Format::List, Kind::Core, "05-26-1995  10:57AM               143712 $LDR$", "$LDR$", 143712ull,
     Type::File, "apache/commons-net"},
    {Format::List, Kind::Extended, "12-05-96  17:03         <DIR>          absoft2", "absoft2", kNoSize,
     Type::Directory, "apache/commons-net"},
    {Format::List, Kind::Extended, "09-13-10  13:08                   23 Control Panel.lnk",
     "Control Panel.lnk", 23ull, Type::File, "apache/commons-net"},
    {Format::List, Kind::Core, "05-22-97  12:08AM                  5000000000 10 years and under",
     "10 years and under", 5000000000ull, Type::File, "apache/commons-net"},
    {Format::List, Kind::Core, "12-03-96  06:38PM       <DIR>           10 years and under",
     "10 years and under", kNoSize, Type::Directory, "apache/commons-net"},
    {Format::List, Kind::Core, "12-03-96  06:38AM       <DIR>          123 abc xyz", "123 abc xyz", kNoSize,
     Type::Directory, "apache/commons-net"},
    {Format::Facts, Kind::SelfOrParent, "Type=cdir;Modify=20141022065102;UNIX.mode=0775; /commons/net",
     "/commons/net", kNoSize, Type::Directory, "apache/commons-net"},
    {Format::Facts, Kind::Core, "Type=file;Size=431;Modify=20130303210732;UNIX.mode=0664; HEADER.html",
     "HEADER.html", 431ull, Type::File, "apache/commons-net"},
    {Format::Facts, Kind::Core, "Type=dir;Modify=20141022065102.999;UNIX.mode=0775; source", "source",
     kNoSize, Type::Directory, "apache/commons-net"},
};

LineKind parse(const Line& l, RemoteEntry& e) {
  return l.format == Format::Facts ? parseFactsLine(l.line, e) : parseListLine(l.line, Today{2024, 6, 15}, e);
}

TEST(ListingParser, ReadsTheLinesOfRealServers) {
  size_t parsed = 0;
  for (const Line& l : kLines) {
    SCOPED_TRACE(std::string(l.line) + "  (" + l.source + ")");
    RemoteEntry e;
    LineKind kind = parse(l, e);
    switch (l.kind) {
      case Kind::NotEntry:
        EXPECT_EQ(kind, LineKind::Ignored);
        continue;
      case Kind::SelfOrParent:
        EXPECT_TRUE(kind != LineKind::Entry || !usableName(e.name));
        continue;
      case Kind::Extended:
        if (kind != LineKind::Entry) continue;  // may be skipped, never misread
        break;
      case Kind::Core:
        ASSERT_EQ(kind, LineKind::Entry);
        break;
    }
    ++parsed;
    EXPECT_EQ(e.name, l.name);
    if (l.size == kNoSize) {
      EXPECT_FALSE(e.size && !e.directory);
    } else if (l.type != Type::Directory || l.format == Format::List) {
      EXPECT_EQ(e.size.value_or(kNoSize), l.size);
    }
    EXPECT_EQ(e.directory, l.type == Type::Directory);
    EXPECT_EQ(e.link, l.type == Type::Link);
  }
  EXPECT_GT(parsed, 90u);
}

TEST(ListingParser, PlacesDatesInTime) {
  RemoteEntry e;
  const Today june{2024, 6, 15};
  ASSERT_EQ(parseListLine("-rw-r--r-- 1 u g 5 Apr  8  1994 a", june, e), LineKind::Entry);
  EXPECT_EQ(e.modified, fileTimeTicks(1994, 4, 8, 0, 0, 0));
  // Without a year: this year, unless that would be more than half a year ahead.
  ASSERT_EQ(parseListLine("-rw-r--r-- 1 u g 5 Jun 14 09:30 a", june, e), LineKind::Entry);
  EXPECT_EQ(e.modified, fileTimeTicks(2024, 6, 14, 9, 30, 0));
  ASSERT_EQ(parseListLine("-rw-r--r-- 1 u g 5 Dec 24 18:00 a", june, e), LineKind::Entry);
  EXPECT_EQ(e.modified, fileTimeTicks(2023, 12, 24, 18, 0, 0));
  ASSERT_EQ(parseListLine("04-27-00  12:09PM       <DIR>          d", june, e), LineKind::Entry);
  EXPECT_EQ(e.modified, fileTimeTicks(2000, 4, 27, 12, 9, 0));
  ASSERT_EQ(parseListLine("12-31-99  12:30AM                 7 f", june, e), LineKind::Entry);
  EXPECT_EQ(e.modified, fileTimeTicks(1999, 12, 31, 0, 30, 0));
  EXPECT_EQ(fileTimeTicks(1970, 1, 1, 0, 0, 0), 116444736000000000LL);
}

TEST(ListingParser, SurvivesWhitespaceLineEndsAndNulAnywhere) {
  std::mt19937 random(20240615);
  const char noise[] = {' ', '\t', '\r', '\n', '\0', '-', ':', ';', '='};
  for (int round = 0; round < 40; ++round) {
    for (const Line& l : kLines) {
      std::string line = l.line;
      const int edits = 1 + static_cast<int>(random() % 6);
      for (int k = 0; k < edits; ++k) {
        size_t at = line.empty() ? 0 : random() % (line.size() + 1);
        switch (random() % 3) {
          case 0:
            line.insert(at, 1, noise[random() % sizeof noise]);
            break;
          case 1:
            if (!line.empty()) line.erase(at % line.size(), 1 + random() % 4);
            break;
          default:
            line.resize(at);
        }
      }
      RemoteEntry e;
      if (parseListLine(line, Today{2024, 6, 15}, e) == LineKind::Entry) {
        EXPECT_FALSE(e.name.empty());
      }
      if (parseFactsLine(line, e) == LineKind::Entry) {
        EXPECT_FALSE(e.name.empty());
      }
      // The same bytes as listing data, cut into blocks anywhere.
      ListingSink sink(l.format == Format::Facts, Today{2024, 6, 15});
      for (size_t at = 0; at < line.size();) {
        size_t n = 1 + random() % 7;
        ASSERT_TRUE(sink.write(line.data() + at, std::min(n, line.size() - at)).ok());
        at += n;
      }
      ASSERT_TRUE(sink.finish().ok());
      for (const RemoteEntry& entry : sink.entries()) EXPECT_TRUE(usableName(entry.name));
    }
  }
}

TEST(ListingParser, NamesThatCannotBeLocalFileNames) {
  for (const char* bad : {"", ".", "..", "a/b", "a\\b", "/", "..\\x"}) EXPECT_FALSE(usableName(bad)) << bad;
  EXPECT_FALSE(usableName(std::string("a\0b", 3)));
  for (const char* good : {"...", ".hidden", "a b", " lead", "\xc3\xa9t\xc3\xa9"})
    EXPECT_TRUE(usableName(good)) << good;
}

TEST(ListingSink, SplitsLinesAcrossBlocksAndSkipsOverlongOnes) {
  ListingSink sink(false, Today{2024, 6, 15});
  std::string data = "-rw-r--r-- 1 u g 1 Jan  1  2020 one\r\n" +
                     std::string(ListingSink::kMaxLine + 10, 'x') + "\r\n-rw-r--r-- 1 u g 2 Jan  1  2020 two";
  for (char c : data) ASSERT_TRUE(sink.write(&c, 1).ok());
  ASSERT_TRUE(sink.finish().ok());
  ASSERT_EQ(sink.entries().size(), 2u);
  EXPECT_EQ(sink.entries()[1].name, "two");
  EXPECT_EQ(sink.unparsed(), 1u);
}

TEST(ListingSink, TracesEachLineItCannotUseWithinBounds) {
  char dir[] = "/tmp/inet-trace-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/trace";
  ::setenv("NIMBO_FTP_TRACE", file.c_str(), 1);
  Trace trace = Trace::forConnection(7);
  ::unsetenv("NIMBO_FTP_TRACE");
  ListingSink sink(false, Today{2024, 6, 15}, trace);
  std::string data = "-rw-r--r-- 1 u g 1 Jan  1  2020 kept\r\n";
  data += "not \x1b[2Ja listing line\r\n";
  data += "-rw-r--r-- 1 u g 1 Jan  1  2020 a/b\r\n";
  data += "-rw-r--r-- 1 u g 1 Jan  1  2020 " + std::string(ListingSink::kMaxLine, 'n') + "\r\n";
  for (size_t i = 0; i < ListingSink::kMaxTracedLines; ++i) data += "junk " + std::to_string(i) + "\r\n";
  ASSERT_TRUE(sink.write(data.data(), data.size()).ok());
  ASSERT_TRUE(sink.finish().ok());
  EXPECT_EQ(sink.entries().size(), 1u);
  EXPECT_EQ(sink.unparsed(), ListingSink::kMaxTracedLines + 2);

  std::ifstream in(file);
  std::vector<std::string> notes;
  for (std::string line; std::getline(in, line);) notes.push_back(line.substr(line.find(" = ") + 3));
  std::filesystem::remove_all(dir);
  ASSERT_EQ(notes.size(), ListingSink::kMaxTracedLines + 1);
  EXPECT_EQ(notes[0], "listing line not understood: \"not \\x1b[2Ja listing line\"");
  EXPECT_EQ(notes[1], "listing entry left out, its name cannot be a local file name: \"a/b\"");
  EXPECT_EQ(
      notes[2].rfind("listing line longer than 16384 bytes skipped, it begins: \"-rw-r--r-- 1 u g 1 Jan", 0),
      0u);
  EXPECT_LT(notes[2].size(), ListingSink::kMaxTracedBytes + 100);
  EXPECT_EQ(notes.back(), "listing: more lines left out; they are only counted");
}

// One size rule for the layer: what a listing line, an MLSD fact and a SIZE reply take as a size.
TEST(Sizes, OneRuleForListingsFactsAndSizeReplies) {
  const std::optional<uint64_t> none;
  const std::pair<const char*, std::optional<uint64_t>> cases[] = {
      {"0", 0},
      {"5000000000", 5000000000ull},
      {"9223372036854775807", 9223372036854775807ull},
      {"9223372036854775808", none},
      {"18446744073709551615", none},  // some servers' "unknown"
      {"123456789012345678901234567890", none},
  };
  for (const auto& [text, size] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(parseSize(text), size);
    RemoteEntry e;
    ASSERT_EQ(
        parseListLine(std::string("-rw-r--r-- 1 u g ") + text + " Jan  1  2020 f", Today{2024, 6, 15}, e),
        LineKind::Entry);
    EXPECT_EQ(e.size, size);
    ASSERT_EQ(parseFactsLine(std::string("type=file;size=") + text + "; f", e), LineKind::Entry);
    EXPECT_EQ(e.size, size);
    // A lookup without MLST: TYPE I, then SIZE; once TYPE I is in force, SIZE alone.
    Features features;
    DataPath data;
    Place place;
    RemoteEntry found;
    Lookup lookup("/f", features, data, place, found);
    EXPECT_EQ(lookup.start().command.verb, "TYPE");
    EXPECT_EQ(lookup.onReply({200, "200 Type set to I.", 0}).command.verb, "SIZE");
    EXPECT_EQ(lookup.onReply({213, std::string("213 ") + text, 0}).kind, Step::Kind::Done);
    EXPECT_EQ(found.size, size);
    Lookup again("/f", features, data, place, found);
    EXPECT_EQ(again.start().command.verb, "SIZE");
  }
  for (const char* bad : {"", "12a", "-1", "+1", " 1", "0x10"}) EXPECT_FALSE(parseSize(bad)) << bad;
}

// ---- Replies ----

std::vector<Reply> readAll(const std::string& bytes, size_t step, ReplyReader::State* last = nullptr) {
  ReplyReader reader;
  std::vector<Reply> out;
  ReplyReader::State state = ReplyReader::State::Incomplete;
  for (size_t at = 0; at < bytes.size(); at += step) {
    reader.feed(bytes.data() + at, std::min(step, bytes.size() - at));
    Reply r;
    while ((state = reader.next(r)) == ReplyReader::State::Ready) out.push_back(r);
    if (state == ReplyReader::State::Malformed) break;
  }
  if (last) *last = state;
  return out;
}

TEST(ReplyReader, FramesSingleAndMultiLineRepliesHoweverTheyArrive) {
  const std::string wire =
      "220 Welcome\r\n"
      "\r\n"
      "211-Features:\r\n"
      " MLST type*;\r\n"
      "211-not the end\r\n"
      "123 not the end either\r\n"
      "211 End\r\n"
      "331\n"
      "250-a\n250 b\r\n";
  for (size_t step = 1; step <= wire.size(); ++step) {
    SCOPED_TRACE(step);
    auto replies = readAll(wire, step);
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0].code, 220);
    EXPECT_EQ(replies[0].text, "220 Welcome");
    EXPECT_EQ(replies[0].wireBytes, 13u);
    EXPECT_EQ(replies[1].code, 211);
    EXPECT_EQ(replies[1].text,
              "211-Features:\r\n MLST type*;\r\n211-not the end\r\n123 not the end either\r\n211 End");
    EXPECT_EQ(replies[2].text, "331");
    EXPECT_EQ(replies[3].text, "250-a\r\n250 b");
  }
}

TEST(ReplyReader, RefusesWhatIsNoReply) {
  for (const std::string& bad :
       {std::string("HTTP/1.1 400 Bad Request\r\n"), std::string("22 short\r\n"),
        std::string("600 no such class\r\n"), std::string("220x glued\r\n"),
        std::string(ReplyReader::kMaxLine + 1, '2'),
        "220-start\r\n" + std::string(ReplyReader::kMaxReply, 'x').replace(100, 2, "\r\n") + "\r\n"}) {
    ReplyReader::State state;
    auto replies = readAll(bad, 4096, &state);
    EXPECT_TRUE(replies.empty()) << bad.substr(0, 30);
    EXPECT_EQ(state, ReplyReader::State::Malformed) << bad.substr(0, 30);
  }
}

// ---- ASCII transfers ----

std::string toLocal(const std::string& wire, size_t split) {
  AsciiToLocal c;
  std::string out(wire.size() + 2, '\0');
  size_t n = c.convert(wire.data(), split, out.data());
  n += c.convert(wire.data() + split, wire.size() - split, out.data() + n);
  n += c.finish(out.data() + n);
  return out.substr(0, n);
}

std::string toWire(const std::string& local, size_t split) {
  LocalToAscii c;
  std::string out(local.size() * 2, '\0');
  size_t n = c.convert(local.data(), split, out.data());
  n += c.convert(local.data() + split, local.size() - split, out.data() + n);
  return out.substr(0, n);
}

TEST(Ascii, ConvertsLineEndsWhereverABlockEnds) {
  const std::string wire = "a\r\nb\r\r\nc\rd\r\n\r\n\r";
  const std::string local = "a\nb\r\nc\rd\n\n\r";
  for (size_t split = 0; split <= wire.size(); ++split) EXPECT_EQ(toLocal(wire, split), local) << split;
  const std::string text = "x\ny\r\nz\n\n\r";
  for (size_t split = 0; split <= text.size(); ++split)
    EXPECT_EQ(toWire(text, split), "x\r\ny\r\nz\r\n\r\n\r") << split;
}

// ---- Addresses ----

TEST(Address, ServerNames) {
  auto hp = parseServerName("ftp.example.com");
  ASSERT_TRUE(hp);
  EXPECT_EQ(hp->host, "ftp.example.com");
  EXPECT_FALSE(hp->port);
  hp = parseServerName("127.0.0.1:2121");
  ASSERT_TRUE(hp);
  EXPECT_EQ(hp->host, "127.0.0.1");
  EXPECT_EQ(hp->port, 2121);
  hp = parseServerName("[::1]:21");
  ASSERT_TRUE(hp);
  EXPECT_EQ(hp->host, "::1");
  EXPECT_EQ(hp->port, 21);
  hp = parseServerName("fe80::1");
  ASSERT_TRUE(hp);
  EXPECT_EQ(hp->host, "fe80::1");
  EXPECT_FALSE(hp->port);
  for (const char* bad : {"", ":21", "host:", "host:0", "host:65536", "host:21x", "[::1", "[::1]x", "[]:21"})
    EXPECT_FALSE(parseServerName(bad)) << bad;
}

TEST(Address, PassiveReplies) {
  EXPECT_EQ(parsePasvPort("227 Entering Passive Mode (127,0,0,1,4,1)."), 1025);
  EXPECT_EQ(parsePasvPort("227 Entering Passive Mode 10,0,0,9,200,10"), 51210);
  EXPECT_EQ(parsePasvPort("227 =192,168,1,2,0,21"), 21);
  // Every number read whole: leading zeros are fine, a fourth digit or a seventh number is no address.
  EXPECT_EQ(parsePasvPort("227 Entering Passive Mode (010,000,000,009,001,0002)"), 258);
  for (const char* bad : {"227 (1,2,3,4,5)", "227 (1,2,3,4,256,1)", "227 (1,2,3,4,0,0)", "227",
                          "227 (1,2,3,4,5,", "227 (9999,2,3,4,5,6)", "227 (1,2,3,4,5,2550)",
                          "227 (1,2,3,4,5,6,7)", "227 (1,2,3,4,5,6,,)", "227 (1,2,3,,4,5)"})
    EXPECT_FALSE(parsePasvPort(bad)) << bad;
  EXPECT_EQ(parseEpsvPort("229 Entering Extended Passive Mode (|||6446|)"), 6446);
  EXPECT_EQ(parseEpsvPort("229 ok (!!!21!)"), 21);
  for (const char* bad :
       {"229 (|||0|)", "229 (|||70000|)", "229 (||6446|)", "229 (|||6446)", "229 (|||x|)", "229 ("})
    EXPECT_FALSE(parseEpsvPort(bad)) << bad;
  EXPECT_EQ(parseQuotedPath("257 \"/a \"\"quoted\"\" dir\" is current"), "/a \"quoted\" dir");
  EXPECT_FALSE(parseQuotedPath("257 \"/never closed"));
}

// ---- Search patterns ----

TEST(Search, PatternsAndMasks) {
  auto plan = planSearch("*.*");
  EXPECT_EQ(plan.kind, SearchPlan::Kind::List);
  EXPECT_EQ(plan.directory, "");
  EXPECT_EQ(plan.mask, "");
  plan = planSearch("//*.*");
  EXPECT_EQ(plan.directory, "/");
  plan = planSearch("/pub/sub/*.TXT");
  EXPECT_EQ(plan.directory, "/pub/sub");
  EXPECT_EQ(plan.mask, "*.TXT");
  plan = planSearch("");
  EXPECT_EQ(plan.kind, SearchPlan::Kind::List);
  plan = planSearch("/incoming/!how to upload.txt");
  EXPECT_EQ(plan.kind, SearchPlan::Kind::LookUp);
  EXPECT_EQ(plan.path, "/incoming/!how to upload.txt");
  plan = planSearch("\"/incoming/what*?.txt\"");
  EXPECT_EQ(plan.kind, SearchPlan::Kind::LookUp);
  EXPECT_EQ(plan.path, "/incoming/what*?.txt");

  EXPECT_TRUE(matchesMask("*.txt", "README.TXT"));
  EXPECT_TRUE(matchesMask("read*.*", "readme"));
  EXPECT_TRUE(matchesMask("?b?", "abc"));
  EXPECT_FALSE(matchesMask("?b?", "abcd"));
  EXPECT_FALSE(matchesMask("*.txt", "a.txt.gz"));
  // Remote names fold as local ones do, beyond ASCII, and keep the Windows dot rules.
  EXPECT_TRUE(matchesMask("ÄRGER*.*", "ärger.txt"));
  EXPECT_TRUE(matchesMask("ОТЧЁТ?.DOC", "отчёт1.doc"));
  EXPECT_TRUE(matchesMask("*.", "README"));
  EXPECT_FALSE(matchesMask("*.", "read.me"));
  EXPECT_EQ(baseName("/pub/readme.txt"), "readme.txt");
  EXPECT_EQ(baseName("/incoming/"), "incoming");
  EXPECT_EQ(baseName("/"), "/");
}

// ---- Proxy lists ----

// A partial file is continued only when the time MDTM gives is the same text as before: anything not
// a time makes no record, so such a server never resumes rather than resumes wrongly.
TEST(Transfer, ModificationTimeOfAnMdtmReply) {
  EXPECT_EQ(inet::modificationStamp("213 20240102030405"), "20240102030405");
  EXPECT_EQ(inet::modificationStamp("213 20240102030405.123 "), "20240102030405.123");
  for (const char* none : {"213 ", "213 2024010203040", "213 202401020304051", "213 20240102030405.",
                           "213 20240102030405.1x", "213 20240102030405 file"})
    EXPECT_EQ(inet::modificationStamp(none), std::nullopt) << none;
}

TEST(Transfer, SizeAnnouncedInAPreliminaryReply) {
  using inet::sizeInReply;
  EXPECT_EQ(sizeInReply("150 Opening BINARY mode data connection for a b (c).bin (1048576 bytes)."),
            1048576u);
  EXPECT_EQ(sizeInReply("150 Opening data connection for x (0 Bytes)"), 0u);
  EXPECT_EQ(sizeInReply("150 Opening data connection (18446744073709551615 bytes)"), UINT64_MAX);
  for (const char* none :
       {"150 File status okay.", "150 Opening (18446744073709551616 bytes)", "150 Opening (12 bytes",
        "150 Opening ( 12 bytes)", "150 Opening (12 blocks)", "150 Opening (-1 bytes)", "150 ("})
    EXPECT_EQ(sizeInReply(none), std::nullopt) << none;
}

TEST(Proxy, ListsAndBypass) {
  ProxySettings s;
  ASSERT_EQ(parseProxySettings("http=http://web:80 ftp=ftp://gw.example:2121", "", s), 0u);
  ASSERT_TRUE(s.ftp);
  EXPECT_EQ(s.ftp->host, "gw.example");
  EXPECT_EQ(s.ftp->port, 2121);
  EXPECT_TRUE(gatewayFor(s, "ftp.example.com"));
  EXPECT_FALSE(gatewayFor(s, "localhost"));  // loopback goes direct unless asked otherwise
  EXPECT_FALSE(gatewayFor(s, "127.0.0.1"));

  ASSERT_EQ(parseProxySettings("gw", "*.internal;<local> <-loopback>", s), 0u);
  EXPECT_EQ(s.ftp->port, 21);
  EXPECT_TRUE(gatewayFor(s, "127.0.0.1"));
  EXPECT_FALSE(gatewayFor(s, "files.internal"));
  EXPECT_FALSE(gatewayFor(s, "FILES.Internal"));
  EXPECT_FALSE(gatewayFor(s, "intranet"));
  EXPECT_TRUE(gatewayFor(s, "ftp.example.com"));

  ASSERT_EQ(parseProxySettings("http://cern:8080", "", s), 0u);
  EXPECT_TRUE(s.cernOnly);
  EXPECT_FALSE(s.ftp);
  ASSERT_EQ(parseProxySettings("http=http://web:80", "", s), 0u);
  EXPECT_FALSE(s.ftp);
  EXPECT_FALSE(s.cernOnly);

  EXPECT_EQ(parseProxySettings("gw:99999", "", s), static_cast<DWORD>(ERROR_INTERNET_INVALID_URL));
  EXPECT_EQ(parseProxySettings("ftp=", "", s), static_cast<DWORD>(ERROR_INTERNET_INVALID_URL));
  EXPECT_EQ(parseProxySettings("gopher://g:70", "", s),
            static_cast<DWORD>(ERROR_INTERNET_UNRECOGNIZED_SCHEME));
  EXPECT_EQ(parseProxySettings("wais=w:1", "", s), static_cast<DWORD>(ERROR_INTERNET_UNRECOGNIZED_SCHEME));
}

// ---- The calls themselves ----

TEST(Calls, RefuseBadHandlesAndArguments) {
  WIN32_FIND_DATAA data{};
  EXPECT_EQ(InternetConnectA(INET_HANDLE(0xdeadbeef), "h", 0, nullptr, nullptr, INTERNET_SERVICE_FTP, 0, 0),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, INTERNET_FLAG_OFFLINE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(InternetOpenA("a", 2, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(InternetOpenA("a", INTERNET_OPEN_TYPE_PROXY, "gw:0", nullptr, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INVALID_URL));

  HINTERNET root = InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(InternetConnectA(root, "h", 0, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_PROTOCOL_NOT_FOUND));
  EXPECT_EQ(InternetConnectA(root, nullptr, 0, nullptr, nullptr, INTERNET_SERVICE_FTP, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(InternetConnectA(root, "h", 0, nullptr, "password without user", INTERNET_SERVICE_FTP, 0, 0),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(FtpFindFirstFileA(root, "*.*", &data, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INVALID_OPERATION));
  EXPECT_FALSE(InternetFindNextFileA(root, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INCORRECT_HANDLE_TYPE));
  EXPECT_FALSE(FtpGetFileA(root, "a", "b", FALSE, 0, FTP_TRANSFER_TYPE_BINARY, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INVALID_OPERATION));
  EXPECT_FALSE(FtpGetFileA(root, "a", "b", FALSE, 0, 3, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(FtpDeleteFileA(root, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(InternetSetStatusCallback(INET_HANDLE(0xdeadbeef), nullptr), INTERNET_INVALID_STATUS_CALLBACK);
  EXPECT_EQ(InternetSetStatusCallback(root, nullptr), nullptr);

  EXPECT_TRUE(InternetCloseHandle(root));
  EXPECT_FALSE(InternetCloseHandle(root));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Calls, HandleIdsAreNeverReused) {
  uint32_t last = 0;
  for (int i = 0; i < 1000; ++i) {
    HINTERNET h =
        InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, i % 2 ? INTERNET_FLAG_ASYNC : 0);
    ASSERT_NE(h, nullptr);
    EXPECT_GT(INET_HANDLE_ID(h), last);
    last = INET_HANDLE_ID(h);
    InternetCloseHandle(h);
  }
  EXPECT_TRUE(waitForThreads(0, std::chrono::seconds(10)));
}

TEST(Calls, LastResponseInfoFillsWhatFitsAndSaysWhatIsNeeded) {
  setLastResponse({550, "550 No such file."});
  DWORD code = 0, length = 0;
  EXPECT_FALSE(InternetGetLastResponseInfoA(&code, nullptr, &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(code, 550u);
  EXPECT_EQ(length, 17u);
  char small[8];
  length = sizeof small;
  EXPECT_FALSE(InternetGetLastResponseInfoA(&code, small, &length));
  EXPECT_STREQ(small, "550 No ");
  EXPECT_EQ(length, 17u);
  char exact[18];
  length = sizeof exact;
  EXPECT_TRUE(InternetGetLastResponseInfoA(&code, exact, &length));
  EXPECT_STREQ(exact, "550 No such file.");
  EXPECT_EQ(length, 17u);
  // The next call of the layer forgets it.
  InternetCloseHandle(nullptr);
  length = sizeof exact;
  EXPECT_TRUE(InternetGetLastResponseInfoA(&code, exact, &length));
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(code, 0u);
}

TEST(Options, TimeoutsFromTheEnvironmentOrTheSetter) {
  ::setenv("NIMBO_FTP_TIMEOUT_MS", "250", 1);
  EXPECT_EQ(currentTimeouts().reply, std::chrono::milliseconds(250));
  setTimeouts({std::chrono::milliseconds(1), std::chrono::milliseconds(2), std::chrono::milliseconds(3)});
  EXPECT_EQ(currentTimeouts().data, std::chrono::milliseconds(3));
  resetTimeouts();
  ::unsetenv("NIMBO_FTP_TIMEOUT_MS");
  EXPECT_EQ(currentTimeouts().connect, std::chrono::seconds(30));
}

}  // namespace
