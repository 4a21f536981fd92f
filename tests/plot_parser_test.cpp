// Reading received lines into series values: each format, the separators,
// signs, exponents, hex, what is refused (nan, inf, garbage, a 17th series),
// a name that first appears late, and the user's regular expression.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "plot/line_parser.h"
#include "plot/plot_number.h"

namespace quorvel {
namespace {

using Values = std::vector<std::pair<std::string, double>>;

// What the parser reads from `line` as (series name, value), and how many
// values it refused.
Values Read(PlotLineParser& parser, std::string_view line, int* refused = nullptr) {
  ParsedLine parsed;
  parser.Parse(line, parsed);
  if (refused) *refused = parsed.refused;
  Values values;
  for (int i = 0; i < parsed.count; ++i) {
    const PlotValue& value = parsed.values[static_cast<size_t>(i)];
    values.emplace_back(parser.Names()[static_cast<size_t>(value.series)], value.value);
  }
  return values;
}

struct NumberCase {
  const char* token;
  bool valid;
  double value;
};

class PlotNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(PlotNumberTest, ReadsWhatADevicePrints) {
  std::optional<double> value = ParsePlotNumber(GetParam().token);
  ASSERT_EQ(value.has_value(), GetParam().valid) << GetParam().token;
  if (value) {
    EXPECT_DOUBLE_EQ(*value, GetParam().value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, PlotNumberTest,
    ::testing::Values(
        NumberCase{"21.4", true, 21.4}, NumberCase{"-3", true, -3}, NumberCase{"+7.5", true, 7.5},
        NumberCase{".5", true, 0.5}, NumberCase{"1.5e-3", true, 1.5e-3},
        NumberCase{"-2E+2", true, -200}, NumberCase{"0x1F", true, 31},
        NumberCase{"-0x10", true, -16}, NumberCase{"0XfF", true, 255},
        NumberCase{"21.4C", true, 21.4}, NumberCase{"40%", true, 40}, NumberCase{"0", true, 0},
        NumberCase{"nan", false, 0}, NumberCase{"-inf", false, 0}, NumberCase{"NaN", false, 0},
        NumberCase{"1e999", false, 0}, NumberCase{"0x", false, 0}, NumberCase{"0xZZ", false, 0},
        NumberCase{"0x11112222333344445", false, 0}, NumberCase{"1.2.3", false, 0},
        NumberCase{"--5", false, 0}, NumberCase{"abc", false, 0}, NumberCase{"", false, 0},
        NumberCase{"-", false, 0}, NumberCase{"12:30", false, 0}));

struct LineCase {
  const char* name;
  const char* line;
  Values values;
  int refused;
};

class PlotLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(PlotLineTest, GivesEachSeriesItsValue) {
  PlotLineParser parser;
  int refused = 0;
  EXPECT_EQ(Read(parser, GetParam().line, &refused), GetParam().values);
  EXPECT_EQ(refused, GetParam().refused);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PlotLineTest,
    ::testing::Values(
        LineCase{"Colons", "temp:21.4 hum:40", {{"temp", 21.4}, {"hum", 40}}, 0},
        LineCase{"Equals", "a=1,b=-2;c=3e2", {{"a", 1}, {"b", -2}, {"c", 300}}, 0},
        LineCase{"Tabs", "x:1\ty:2", {{"x", 1}, {"y", 2}}, 0},
        LineCase{"SpaceAfterColon", "temp: 21.4 hum: 0x28", {{"temp", 21.4}, {"hum", 40}}, 0},
        LineCase{"DemoReading", "T=21.4 C", {{"T", 21.4}}, 0},
        LineCase{"NumbersNextToPairsAreNoSeries", "a:1 5 6", {{"a", 1}}, 0},
        LineCase{"List", "512,498,503", {{"1", 512}, {"2", 498}, {"3", 503}}, 0},
        LineCase{"ListWithWords", "ADC 512 ; 498", {{"1", 512}, {"2", 498}}, 0},
        LineCase{"ListSpacesAndSigns", "  -1  +2\t3.5 ", {{"1", -1}, {"2", 2}, {"3", 3.5}}, 0},
        LineCase{"NanAndInfRefused", "a:nan b:inf c:1", {{"c", 1}}, 2},
        LineCase{"GarbageValueRefused", "a:x1 b:2", {{"b", 2}}, 1},
        LineCase{"NoNameRefused", ":5 b:2", {{"b", 2}}, 1},
        LineCase{"NoNumber", "hello world", {}, 0}, LineCase{"OnlyNanList", "nan inf", {}, 0},
        LineCase{"SeventeenNumbers",
                 "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17",
                 {{"1", 1},
                  {"2", 2},
                  {"3", 3},
                  {"4", 4},
                  {"5", 5},
                  {"6", 6},
                  {"7", 7},
                  {"8", 8},
                  {"9", 9},
                  {"10", 10},
                  {"11", 11},
                  {"12", 12},
                  {"13", 13},
                  {"14", 14},
                  {"15", 15},
                  {"16", 16}},
                 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlotLineParserTest, NumbersSeriesInOrderOfFirstAppearance) {
  PlotLineParser parser;
  Read(parser, "a:1 b:2");
  // A name first seen late joins at the end; the others keep their numbers.
  EXPECT_EQ(Read(parser, "c:3 b:4 a:5"), (Values{{"c", 3}, {"b", 4}, {"a", 5}}));
  EXPECT_EQ(parser.Names(), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(PlotLineParserTest, RefusesASeventeenthSeriesButKeepsTheLine) {
  PlotLineParser parser;
  for (int i = 0; i < kPlotMaxSeries; ++i) Read(parser, "s" + std::to_string(i) + ":1");
  int refused = 0;
  EXPECT_EQ(Read(parser, "late:9 s3:2", &refused), (Values{{"s3", 2}}));
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(parser.Names().size(), static_cast<size_t>(kPlotMaxSeries));
}

struct PatternCase {
  const char* name;
  const char* pattern;
  const char* line;
  Values values;
};

class PlotPatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(PlotPatternTest, TakesTheGroups) {
  std::string error;
  std::optional<PlotPattern> pattern = PlotPattern::Compile(GetParam().pattern, error);
  ASSERT_TRUE(pattern) << error;
  PlotLineParser parser(std::make_shared<PlotPattern>(*pattern));
  EXPECT_EQ(Read(parser, GetParam().line), GetParam().values);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, PlotPatternTest,
    ::testing::Values(
        PatternCase{"Named",
                    R"(temp is (?<temp>[-0-9.]+), fan at (?<fan>\d+))",
                    "sensor: temp is -4.5, fan at 40 %",
                    {{"temp", -4.5}, {"fan", 40}}},
        PatternCase{"Unnamed", R"(x(\d+) y(\d+))", "at x12 y7", {{"1", 12}, {"2", 7}}},
        PatternCase{"FirstMatchCounts", R"(v=(\d+))", "v=1 v=22", {{"1", 1}}},
        PatternCase{"NonCapturingAndClassParens", R"((?:a|b)=([(0-9)]+))", "b=42", {{"1", 42}}},
        PatternCase{"NoMatch", R"(T=(\d+))", "nothing here", {}},
        PatternCase{"OptionalGroupLeftOut", R"(a=(\d+)(?: b=(\d+))?)", "a=3", {{"1", 3}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlotPatternTest, RefusesWhatCannotBeUsed) {
  for (const char* bad : {"", "(unclosed", "no groups", R"((?<>\d))", R"((?<a b>\d))",
                          R"((\d{1,100000}))", R"((a)\1)"}) {
    std::string error;
    EXPECT_FALSE(PlotPattern::Compile(bad, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(PlotPatternTest, APathologicalPatternDoesNotStall) {
  std::string error;
  std::optional<PlotPattern> pattern = PlotPattern::Compile("(a*)*b(\\d)", error);
  ASSERT_TRUE(pattern) << error;
  std::vector<std::string_view> groups;
  // Backtracking would take minutes here; the matcher is linear in the line.
  EXPECT_FALSE(pattern->Match(std::string(kPlotMaxLineBytes, 'a'), groups));
}

}  // namespace
}  // namespace quorvel
