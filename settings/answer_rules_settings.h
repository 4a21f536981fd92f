// The answer rules in the settings file, in a section of their own:
//   [AnswerRules]
//   Enabled=0|1  Frames=burst|end-byte  Count=N (at most kMaxAnswerRules)
//   and for each rule n from 1: Rule<n>On (0|1), Rule<n>Match (text, hex,
//   regex), Rule<n>Pattern, Rule<n>Entry (a send-list entry's name),
//   Rule<n>Content, Rule<n>Hex (0|1), Rule<n>LineEnding, Rule<n>Escapes,
//   Rule<n>Checksum (as in [SendOptions]), Rule<n>DelayMs, Rule<n>Line
//   (port, A, B: the line it answers; missing or unknown reads as port).
// Loading keeps what it can and says what it could not: a rule with an
// unusable pattern is loaded as written (it just never matches) and named in
// the problems; an unknown match kind turns its rule off; values out of range
// read as their nearest usable value. Keys of rules beyond Count are ignored.
// UI thread.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "sending/answer_rules.h"

namespace quorvel {

struct LoadedAnswerRules {
  AnswerRules rules;
  std::vector<std::string> problems;  // one line each, for the user
};

LoadedAnswerRules LoadAnswerRules(const std::filesystem::path& file);

// False, with the file as it was and `problem` said, when a value cannot be
// held in the file (a line break in a pattern or content) or the file cannot
// be written.
bool SaveAnswerRules(const AnswerRules& rules, const std::filesystem::path& file,
                     std::string* problem = nullptr);

}  // namespace quorvel
