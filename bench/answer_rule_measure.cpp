// The worker's turnaround for a frame an answer rule answers, beside the
// auto-reply's in the same run on the same line: from the device's write of
// the frame's last byte to its read of the answer's first byte, empty log.
// The rule is the last of five, so the four before it are tried and fail.
#include <cstdio>
#include <thread>

#include "bench_support.h"
#include "measures.h"
#include "sending/answer_rules.h"

namespace quorvel::bench {
namespace {

constexpr int kWarmUp = 20;
const std::vector<uint8_t> kFrame = {0x01, 0x02, 0x03, 0x0d};
constexpr uint8_t kAnswer = 0x06;

std::shared_ptr<const AnswerRuleTable> FiveRules() {
  auto rule = [](MatchKind match, const char* pattern) {
    AnswerRule made;
    made.match = match;
    made.pattern = pattern;
    made.content = "06";
    made.asHex = true;
    return made;
  };
  AnswerRules rules{true,
                    FrameBy::kBurst,
                    {rule(MatchKind::kText, "AT"), rule(MatchKind::kRegex, "^OK[0-9]*"),
                     rule(MatchKind::kHex, "7E ??"), rule(MatchKind::kText, "\\x05"),
                     rule(MatchKind::kHex, "01 02 ?? 0D")}};
  return AnswerRuleTable::Build(rules);
}

// Samples of one kind of answer; a failure's reason in `failure`.
std::vector<double> Sample(TerminalHost& host, PtyLine& line, int count, std::string& failure) {
  std::vector<double> samples;
  for (int i = 0; i < kWarmUp + count && failure.empty(); ++i) {
    host.ClearReceive();
    std::this_thread::sleep_for(milliseconds(1));  // the worker settles into its wait
    auto start = Clock::now();
    if (!line.WriteAll(kFrame, DeadlineIn(std::chrono::seconds(5))))
      failure = "the line did not take the frame";
    uint8_t first = 0;
    if (failure.empty() && line.ReadSome(&first, 1, 5000) != 1) failure = "no answer within 5 s";
    auto end = Clock::now();
    if (failure.empty() && first != kAnswer) failure = "a wrong answer";
    if (i >= kWarmUp) samples.push_back(MillisecondsBetween(start, end));
  }
  return samples;
}

}  // namespace

Row AnswerRuleTurnaround(const HostFactory& make, const BenchOptions& options) {
  const std::string measure = "Answer rule turnaround, empty log, 5 rules";
  auto host = make();
  std::fprintf(stderr, "bench: %s (%s)\n", measure.c_str(), host->Name().c_str());
  Row row;
  row.measure = measure;
  row.terminal = host->Name();
  row.median = row.p99 = row.max = row.samples = "—";
  PtyLine line;
  if (!line.Ok()) {
    row.notes = "no pseudo-terminal";
    return row;
  }
  std::vector<double> rules;
  std::vector<double> reply;
  std::string failure;
  bool ran = host->Run(line.Path(), [&] {
    InstallAnswerRules(host->State(), FiveRules());
    rules = Sample(*host, line, options.samples, failure);
    // The auto-reply is checked first and answers alone once it is on.
    host->EnableAutoReply("06", true, "0d");
    if (failure.empty()) reply = Sample(*host, line, options.samples, failure);
  });
  if (!ran || !failure.empty()) {
    row.verdict = "failed";
    row.notes = ran ? failure : "the link did not open";
    return row;
  }
  Summary rule = Summarise(rules);
  Summary autoReply = Summarise(reply);
  row.median = Milliseconds(rule.median);
  row.p99 = Milliseconds(rule.p99);
  row.max = Milliseconds(rule.max);
  row.samples = std::to_string(rule.count);
  row.goal = "median ≤ 2× the auto-reply's";
  row.verdict = rule.median <= 2 * autoReply.median ? "met" : "missed";
  row.notes = "auto-reply in the same run: median " + Milliseconds(autoReply.median) + ", p99 " +
              Milliseconds(autoReply.p99) + "; ratio of medians " +
              Format(rule.median / autoReply.median, 2);
  return row;
}

}  // namespace quorvel::bench
