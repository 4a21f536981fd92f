// The encoding of typed text: what each encoding carries and refuses, and
// that showing kept bytes as text and keeping that text again loses none.
#include "sending/text_encoding.h"

#include <gtest/gtest.h>

#include <random>

namespace quorvel {
namespace {

struct EncodeCase {
  const char* name;
  std::u16string text;
  TextEncoding encoding;
  std::string bytes;  // when carried
  std::optional<char32_t> refused;
};

void PrintTo(const EncodeCase& c, std::ostream* out) {
  *out << c.name;
}

class EncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTest, CarriesOrNamesTheFirstCharacterItCannot) {
  EncodedText encoded = EncodeText(GetParam().text, GetParam().encoding);
  EXPECT_EQ(encoded.refused, GetParam().refused);
  if (!GetParam().refused) {
    EXPECT_EQ(encoded.bytes, GetParam().bytes);
  }
}

using TE = TextEncoding;
INSTANTIATE_TEST_SUITE_P(
    Texts, EncodeTest,
    ::testing::Values(
        EncodeCase{"Latin1Ascii", u"AT\r\n", TE::kLatin1, "AT\r\n", {}},
        EncodeCase{"Latin1Accent", u"\u00e9", TE::kLatin1, "\xe9", {}},
        EncodeCase{"Latin1RefusesEuro", u"\u00e9\u20ac", TE::kLatin1, "", U'\u20ac'},
        EncodeCase{"Latin1RefusesAPairAsOne", u"a\U0001F600", TE::kLatin1, "", U'\U0001F600'},
        EncodeCase{"Utf8Accent", u"\u00e9\u20ac", TE::kUtf8, "\xc3\xa9\xe2\x82\xac", {}},
        EncodeCase{"Utf8Pair", u"\U0001F600", TE::kUtf8, "\xf0\x9f\x98\x80", {}},
        EncodeCase{"Utf8EscapedByte", u"\xdce9", TE::kUtf8, "\xe9", {}},
        EncodeCase{"Utf8RefusesALoneSurrogate", u"a\xd800", TE::kUtf8, "", U'\xd800'},
        EncodeCase{"Empty", u"", TE::kUtf8, "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Any bytes shown as text and kept again are the same bytes, in either
// encoding: valid UTF-8 shows as its characters, the rest byte by byte.
TEST(DecodeTest, ShowingAndKeepingLosesNoByte) {
  std::mt19937 random(7);
  std::vector<std::string> samples = {"\xc3\xa9",
                                      "\xc3",
                                      "\xe9t\xc3\xa9",
                                      "\xed\xa0\x80",
                                      "\xc0\xaf",
                                      "\xf4\x90\x80\x80",
                                      "\xf0\x9f\x98\x80\xff"};
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  samples.push_back(all);
  for (int i = 0; i < 200; ++i) {
    std::string bytes(static_cast<size_t>(random() % 12), '\0');
    for (char& c : bytes) c = static_cast<char>(0x7C + random() % 0x84);
    samples.push_back(bytes);
  }
  for (TextEncoding encoding : {TE::kLatin1, TE::kUtf8}) {
    for (const std::string& bytes : samples) {
      EncodedText again = EncodeText(DecodeText(bytes, encoding), encoding);
      EXPECT_FALSE(again.refused);
      EXPECT_EQ(again.bytes, bytes);
    }
  }
  EXPECT_EQ(DecodeText("\xc3\xa9\xe9", TE::kUtf8), u"\u00e9\xdce9");
  EXPECT_EQ(DecodeText("\xc3\xa9", TE::kLatin1), u"\u00c3\u00a9");
}

TEST(RefusedCharacterMessageTest, NamesTheCharacterAndTheWayOut) {
  EXPECT_EQ(RefusedCharacterMessage("The send box takes no", U'\u20ac', TE::kLatin1),
            "The send box takes no \"\u20ac\" (U+20AC), which Latin-1 cannot carry. Choose UTF-8 "
            "in \"Send options\" to send it.");
  EXPECT_EQ(RefusedCharacterMessage("The name holds", U'\xd800', TE::kUtf8),
            "The name holds U+D800, which UTF-8 cannot carry.");
  EXPECT_EQ(TextEncodingFromKey("utf8"), TE::kUtf8);
  EXPECT_EQ(TextEncodingFromKey("UTF-8"), std::nullopt);
}

}  // namespace
}  // namespace quorvel
