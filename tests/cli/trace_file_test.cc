// The --trace file read as raw text: each call one line, its members in the
// documented order (call, device, args, result or exception), as docs/host.md's
// examples show them.
#include "cli/runtime/trace_file.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/host_run.h"

namespace velmocair::testing {
namespace {

Json::Value call_of(const char* name, Json::Value args) {
  Json::Value call(Json::objectValue);
  call["result"] = 0;  // set first: the order of setting must not matter
  call["args"] = std::move(args);
  call["device"] = 1;
  call["call"] = name;
  return call;
}

struct TraceLine {
  Json::Value call;
  const char* line;
};

TEST(TraceFile, WritesTheMembersInTheDocumentedOrder) {
  Json::Value send_args(Json::arrayValue);
  for (const Json::Value& arg :
       {Json::Value(5156), Json::Value("0100"), Json::Value(2), Json::Value(false)}) {
    send_args.append(arg);
  }
  Json::Value thrown = call_of("InitSetting", Json::Value(Json::arrayValue));
  thrown.removeMember("result");
  thrown["exception"] = "设置";
  // clang-format off
  const TraceLine cases[] = {
      {call_of("SendSP", send_args), R"({"call":"SendSP","device":1,"args":[5156,"0100",2,false],"result":0})"},
      {thrown,                       R"({"call":"InitSetting","device":1,"args":[],"exception":"设置"})"},
  };
  // clang-format on
  ScratchFolder folder;
  const std::string path = folder.path("trace.jsonl");
  {
    cli::TraceFile trace(path);
    for (const TraceLine& test : cases) {
      trace.write(test.call);
    }
  }
  const std::vector<std::string> lines = lines_of(read_file(path));
  ASSERT_EQ(lines.size(), std::size(cases));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i], cases[i].line) << "line " << i + 1;
  }
}

TEST(TraceFile, HoldsTheReadmesExampleLines) {
  ScratchFolder folder;
  const std::string path = folder.path("trace.jsonl");
  const HostRun run = run_host(folder, {"--cycles", "1", "--status", "--trace", path});
  ASSERT_EQ(run.status, 0) << run.transcript();
  const std::vector<std::string> lines = lines_of(read_file(path));
  const auto has = [&lines](const std::string& start) {
    return std::any_of(lines.begin(), lines.end(),
                       [&start](const std::string& line) { return line.rfind(start, 0) == 0; });
  };
  EXPECT_TRUE(has(R"({"call":"modbus_read_bits","device":1,"args":[8001,32],"result":0})"));
  EXPECT_TRUE(has(R"({"call":"SendSP","device":1,"args":[5156,"01000000)"));
  for (const std::string& line : lines) {
    EXPECT_EQ(line.rfind(R"({"call":")", 0), 0u) << line;
  }
}

}  // namespace
}  // namespace velmocair::testing
