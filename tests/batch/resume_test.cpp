// A program using the batch, stopped by SIGTERM mid-download: it leaves the one partial file of its
// target, which the next run of the program resumes and completes.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <thread>

#include "fault_server.h"
#include "ftp_servers.h"
#include "process.h"

namespace fs = std::filesystem;
namespace ts = testsupport;
using faultftp::Fault;

TEST(BatchResume, AProgramStoppedBySigtermLeavesOnePartialFileThatTheNextRunResumes) {
  faultftp::Options options;
  options.rest = true;
  faultftp::FaultServer server(options);
  constexpr uint64_t kSize = 4 << 20;
  server.putPatternFile("/big.bin", kSize);
  server.add(Fault::on("RETR", 1).chunks(64 * 1024, std::chrono::milliseconds(20)));  // 1.3 s in all
  ts::TempDir local;
  const std::vector<std::string> argv = {DOWNLOAD_PROGRAM,      server.address(), "ann", "pw", "/",
                                         local.path().string(), "big.bin"};
  const fs::path partial = local / ".big.bin.part";

  ts::ChildProcess first;
  ts::SpawnRequest request;
  request.argv = argv;
  ASSERT_EQ(first.start(request), std::nullopt);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  auto arrived = [&] {
    std::error_code ec;
    const auto size = fs::file_size(partial, ec);
    return !ec && size >= 256 * 1024;
  };
  while (!arrived() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ::kill(first.pid(), SIGTERM);
  EXPECT_EQ(first.wait(deadline), 128 + SIGTERM);
  EXPECT_EQ(ts::listTree(local.path()), (std::vector<std::string>{".big.bin.part", ".big.bin.part.info"}));
  const uint64_t kept = fs::file_size(partial);
  ASSERT_GE(kept, 256u * 1024);
  ASSERT_LT(kept, kSize);

  const std::string trace = (local / "batch.trace").string();
  ts::TempDir elsewhere;
  const std::string report = (elsewhere / "report.jsonl").string();
  ::setenv("NIMBO_BATCH_TRACE", trace.c_str(), 1);
  ::setenv("NIMBO_BATCH_REPORT", report.c_str(), 1);
  EXPECT_EQ(ts::runCommand(argv, {}, std::chrono::seconds(60)), 0);
  ::unsetenv("NIMBO_BATCH_TRACE");
  ::unsetenv("NIMBO_BATCH_REPORT");
  // The report says where the file went on from, and counts only what this run moved.
  const std::string line = ts::readFile(report).value_or("");
  EXPECT_NE(line.find("\"bytes\":" + std::to_string(kSize - kept) +
                      ",\"resumed_from\":" + std::to_string(kept) + ","),
            std::string::npos)
      << line;
  const std::string file = ts::readFile(local / "big.bin").value_or("");
  ASSERT_EQ(file.size(), kSize);
  for (uint64_t i = 0; i < kSize; ++i)
    if (file[i] != faultftp::FaultServer::patternByte(i)) FAIL() << "byte " << i << " differs";
  const auto commands = server.commands();
  EXPECT_NE(std::find(commands.begin(), commands.end(), "REST " + std::to_string(kept)), commands.end());
  const std::string said = ts::readFile(trace).value_or("");
  EXPECT_NE(said.find("0\tResuming /big.bin at byte " + std::to_string(kept) + "\n"), std::string::npos)
      << said;
  EXPECT_NE(said.find(" bytes (resumed at byte " + std::to_string(kept) + ").\n"), std::string::npos) << said;
  fs::remove(trace);
  EXPECT_EQ(ts::listTree(local.path()), (std::vector<std::string>{"big.bin"}));
}
