// The answer rules in the window: "Answer rules…" (Ctrl+Shift+A) opens their
// table to add, edit, delete, move and switch rules; "Answer rules on"
// (Ctrl+Shift+O) switches the whole table. Both in the Send menu; while
// the rules are on the status line says how many answer the first port
// (and, when there are any, how many each direction of a bridge). The
// rules are loaded from the settings file when the window starts, saved there
// when the table is accepted or switched, and handed to the receive worker
// as a new table each time. UI thread.
#pragma once

#include <QDialog>
#include <QObject>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/terminal_state.h"
#include "pairing/pair_timeline.h"
#include "sending/answer_rules.h"
#include "sending/text_encoding.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QTableWidget;

namespace quorvel {

class StatusLine;
class WindowCommands;

// The table of rules, editing a copy; nullopt when cancelled. `problems` are
// shown above the table until it is changed. Patterns, names and contents are
// shown and typed in `encoding`.
std::optional<AnswerRules> EditAnswerRules(QWidget* parent, const AnswerRules& rules,
                                           const std::vector<std::string>& problems,
                                           TextEncoding encoding = TextEncoding::kLatin1);

// One rule; nullopt when cancelled. A pattern that cannot be used, or a
// character `encoding` cannot carry, is named in a message and the rule stays
// open for editing.
std::optional<AnswerRule> EditAnswerRule(QWidget* parent, const AnswerRule& rule,
                                         TextEncoding encoding = TextEncoding::kLatin1);

class AnswerRulesControl : public QObject {
 public:
  // Loads the rules kept in `settingsFile` and hands them to the worker.
  AnswerRulesControl(QWidget* window, TerminalState& state, StatusLine& status,
                     std::filesystem::path settingsFile);

  // Takes "Answer rules…" and "Answer rules on" of the command table.
  void BindCommands(WindowCommands& commands);

  // How rules that name a send-list entry get its bytes; the table is built
  // again with it. Call again when the list changes.
  void SetEntryLookup(EntryLookup lookup);
  // `changed` is told now and whenever the bridge's rules change (edited,
  // switched on or off, built again).
  void WatchBridgeRules(std::function<void()> changed);
  // The rules of what a bridge's `side` reads; null while rules are off.
  std::shared_ptr<const AnswerRuleTable> BridgeRules(PairSide side) const {
    return bridge_[static_cast<size_t>(side)];
  }

  void Edit();
  void SetEnabled(bool on);
  const AnswerRules& Rules() const { return rules_; }
  // What the last load or build found wrong, one line each.
  const std::vector<std::string>& Problems() const { return problems_; }

 private:
  void Save();
  void Install();

  QWidget* window_;
  TerminalState& state_;
  StatusLine& status_;
  std::filesystem::path settingsFile_;
  AnswerRules rules_;
  EntryLookup lookup_;
  std::vector<std::string> loadProblems_;
  std::vector<std::string> problems_;
  QAction* onAction_ = nullptr;
  std::array<std::shared_ptr<const AnswerRuleTable>, 2> bridge_;  // by PairSide
  std::function<void()> bridgeChanged_;
};

}  // namespace quorvel
