#include "ui/answer_rules_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "engine/transmit.h"
#include "settings/answer_rules_settings.h"
#include "ui/message_box.h"
#include "ui/status_line.h"
#include "ui/typed_text.h"
#include "ui/window_commands.h"

namespace quorvel {
namespace {

constexpr const char* kMatchLabels[] = {"Text", "Hex bytes (?? any)", "Regular expression"};
constexpr const char* kFrameLabels[] = {"Each burst", "Up to the frame-end byte"};
// By RuleLine.
constexpr const char* kLineLabels[] = {"First port", "Bridge A\u2192 (answered on A)",
                                       "Bridge B\u2192 (answered on B)"};
constexpr const char* kLineTip =
    "Which line the rule hears and answers: the first port, or what a bridge's side A or B "
    "read, answered on that side while the other side still gets every byte. A monitor never "
    "writes, so rules for A\u2192 and B\u2192 stay silent in a monitor.";

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

QString AnswerText(const AnswerRule& rule, TextEncoding encoding) {
  if (!rule.entry.empty()) {
    return QStringLiteral("entry \"%1\"").arg(ShownText(rule.entry, encoding));
  }
  QString text = ShownText(rule.content, encoding);
  if (rule.asHex) text += QStringLiteral(" (hex)");
  if (rule.options.ending != LineEnding::kNone) {
    text += QStringLiteral(" + ") + Q(std::string(InfoOf(rule.options.ending).label));
  }
  if (rule.options.checksum != ChecksumKind::kNone) {
    text += QStringLiteral(" + ") + Q(std::string(InfoOf(rule.options.checksum).label));
  }
  return text;
}

template <typename Table>
QComboBox* ChoiceBox(QWidget* parent, const Table& table, int current) {
  auto* box = new QComboBox(parent);
  for (const auto& info : table) box->addItem(Q(std::string(info.label)));
  box->setCurrentIndex(current);
  return box;
}

// The rules table: one row per rule, its first cell the rule's switch.
class RulesDialog : public QDialog {
 public:
  RulesDialog(QWidget* parent, const AnswerRules& rules, const std::vector<std::string>& problems,
              TextEncoding encoding)
      : QDialog(parent), rules_(rules), encoding_(encoding) {
    setWindowTitle(QStringLiteral("Answer rules"));
    auto* layout = new QVBoxLayout(this);
    enabled_ = new QCheckBox(QStringLiteral("Answer rules on"), this);
    enabled_->setObjectName(QStringLiteral("enabled"));
    enabled_->setChecked(rules.enabled);
    layout->addWidget(enabled_);
    auto* framesRow = new QHBoxLayout;
    framesRow->addWidget(new QLabel(QStringLiteral("A frame is:"), this));
    frames_ = new QComboBox(this);
    for (const char* label : kFrameLabels) frames_->addItem(QString::fromUtf8(label));
    frames_->setCurrentIndex(static_cast<int>(rules.frames));
    framesRow->addWidget(frames_, 1);
    layout->addLayout(framesRow);
    problems_ = new QLabel(this);
    problems_->setWordWrap(true);
    problems_->setStyleSheet(QStringLiteral("color: #b00000"));
    QStringList lines;
    for (const std::string& line : problems) lines << Q(line);
    problems_->setText(lines.join(QLatin1Char('\n')));
    problems_->setVisible(!problems.empty());
    layout->addWidget(problems_);
    table_ = new QTableWidget(0, 5, this);
    table_->setHorizontalHeaderLabels({QStringLiteral("On"), QStringLiteral("When a frame matches"),
                                       QStringLiteral("Send"), QStringLiteral("Delay ms"),
                                       QStringLiteral("Answers")});
    table_->horizontalHeaderItem(4)->setToolTip(QString::fromUtf8(kLineTip));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setMinimumWidth(560);
    layout->addWidget(table_, 1);
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row) { EditRow(row); });
    connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
      if (item->column() == 0 && item->row() < static_cast<int>(rules_.rules.size())) {
        rules_.rules[static_cast<size_t>(item->row())].enabled = item->checkState() == Qt::Checked;
      }
    });
    AddButtons(layout);
    Fill(0);
    enabled_->setFocus(Qt::OtherFocusReason);
  }

  AnswerRules Rules() {
    rules_.enabled = enabled_->isChecked();
    rules_.frames = static_cast<FrameBy>(frames_->currentIndex());
    return rules_;
  }

 private:
  void AddButtons(QVBoxLayout* layout) {
    auto* row = new QHBoxLayout;
    const struct {
      const char* text;
      void (RulesDialog::*command)();
    } kButtons[] = {{"&Add…", &RulesDialog::Add},
                    {"&Edit…", &RulesDialog::EditCurrent},
                    {"&Delete", &RulesDialog::Delete},
                    {"Move &up", &RulesDialog::MoveUp},
                    {"Move do&wn", &RulesDialog::MoveDown}};
    for (const auto& button : kButtons) {
      auto* push = new QPushButton(QString::fromUtf8(button.text), this);
      push->setAutoDefault(false);
      connect(push, &QPushButton::clicked, this, button.command);
      row->addWidget(push);
    }
    layout->addLayout(row);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(box);
  }

  void Fill(int current) {
    QSignalBlocker quiet(table_);
    table_->setRowCount(static_cast<int>(rules_.rules.size()));
    for (int row = 0; row < table_->rowCount(); ++row) {
      const AnswerRule& rule = rules_.rules[static_cast<size_t>(row)];
      auto* on = new QTableWidgetItem;
      on->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      on->setCheckState(rule.enabled ? Qt::Checked : Qt::Unchecked);
      table_->setItem(row, 0, on);
      QString match = QString::fromUtf8(kMatchLabels[static_cast<int>(rule.match)]);
      table_->setItem(
          row, 1,
          new QTableWidgetItem(match + QStringLiteral(": ") + ShownText(rule.pattern, encoding_)));
      table_->setItem(row, 2, new QTableWidgetItem(AnswerText(rule, encoding_)));
      table_->setItem(row, 3, new QTableWidgetItem(QString::number(rule.delayMs)));
      table_->setItem(
          row, 4,
          new QTableWidgetItem(QString::fromUtf8(kLineLabels[static_cast<int>(rule.line)])));
    }
    if (current >= 0 && current < table_->rowCount()) table_->selectRow(current);
  }

  int Current() const { return table_->currentRow(); }
  bool Valid(int row) const { return row >= 0 && row < static_cast<int>(rules_.rules.size()); }

  void Changed(int current) {
    problems_->hide();
    Fill(current);
  }

  void Add() {
    if (rules_.rules.size() >= static_cast<size_t>(kMaxAnswerRules)) {
      ShowWarning(this,
                  QStringLiteral("There can be at most %1 answer rules.").arg(kMaxAnswerRules));
      return;
    }
    if (auto rule = EditAnswerRule(this, AnswerRule{}, encoding_)) {
      rules_.rules.push_back(*rule);
      Changed(static_cast<int>(rules_.rules.size()) - 1);
    }
  }

  void EditRow(int row) {
    if (!Valid(row)) return;
    if (auto rule = EditAnswerRule(this, rules_.rules[static_cast<size_t>(row)], encoding_)) {
      rules_.rules[static_cast<size_t>(row)] = *rule;
      Changed(row);
    }
  }
  void EditCurrent() { EditRow(Current()); }

  void Delete() {
    int row = Current();
    if (!Valid(row)) return;
    rules_.rules.erase(rules_.rules.begin() + row);
    Changed(std::min(row, static_cast<int>(rules_.rules.size()) - 1));
  }

  void Move(int from, int to) {
    if (!Valid(from) || !Valid(to)) return;
    std::swap(rules_.rules[static_cast<size_t>(from)], rules_.rules[static_cast<size_t>(to)]);
    Changed(to);
  }
  void MoveUp() { Move(Current(), Current() - 1); }
  void MoveDown() { Move(Current(), Current() + 1); }

  AnswerRules rules_;
  TextEncoding encoding_;
  QCheckBox* enabled_;
  QComboBox* frames_;
  QLabel* problems_;
  QTableWidget* table_;
};

// One rule: what it matches and what it sends.
class RuleDialog : public QDialog {
 public:
  RuleDialog(QWidget* parent, const AnswerRule& rule, TextEncoding encoding)
      : QDialog(parent), encoding_(encoding) {
    setWindowTitle(QStringLiteral("Answer rule"));
    auto* form = new QFormLayout(this);
    enabled_ = new QCheckBox(QStringLiteral("On"), this);
    enabled_->setObjectName(QStringLiteral("enabled"));
    enabled_->setChecked(rule.enabled);
    form->addRow(enabled_);
    match_ = new QComboBox(this);
    for (const char* label : kMatchLabels) match_->addItem(QString::fromUtf8(label));
    match_->setCurrentIndex(static_cast<int>(rule.match));
    match_->setObjectName(QStringLiteral("match"));
    form->addRow(QStringLiteral("&Match:"), match_);
    pattern_ = AddLine(form, QStringLiteral("&Pattern:"), rule.pattern);
    pattern_->setMaxLength(static_cast<int>(kMaxPatternLength));
    pattern_->setObjectName(QStringLiteral("pattern"));
    entry_ = AddLine(form, QStringLiteral("Send-list &entry:"), rule.entry);
    entry_->setPlaceholderText(QStringLiteral("(none: send the content below)"));
    content_ = AddLine(form, QStringLiteral("&Content:"), rule.content);
    asHex_ = new QCheckBox(QStringLiteral("Content is &hex"), this);
    asHex_->setChecked(rule.asHex);
    escapes_ = new QCheckBox(QStringLiteral("E&scapes (\\r \\n \\t \\\\ \\xHH)"), this);
    escapes_->setChecked(rule.options.escapes);
    form->addRow(asHex_);
    form->addRow(escapes_);
    ending_ = ChoiceBox(this, LineEndingTable(), static_cast<int>(rule.options.ending));
    form->addRow(QStringLiteral("&Line ending:"), ending_);
    checksum_ = ChoiceBox(this, ChecksumTable(), static_cast<int>(rule.options.checksum));
    form->addRow(QStringLiteral("C&heck:"), checksum_);
    delay_ = new QSpinBox(this);
    delay_->setRange(0, kMaxAnswerDelayMs);
    delay_->setSuffix(QStringLiteral(" ms"));
    delay_->setValue(rule.delayMs);
    form->addRow(QStringLiteral("&Delay:"), delay_);
    line_ = new QComboBox(this);
    for (const char* label : kLineLabels) line_->addItem(QString::fromUtf8(label));
    line_->setCurrentIndex(static_cast<int>(rule.line));
    line_->setObjectName(QStringLiteral("line"));
    line_->setToolTip(QString::fromUtf8(kLineTip));
    form->addRow(QStringLiteral("Ans&wers:"), line_);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(box, &QDialogButtonBox::accepted, this, &RuleDialog::Check);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(box);
    enabled_->setFocus(Qt::OtherFocusReason);
  }

  AnswerRule Rule() const {
    AnswerRule rule;
    rule.enabled = enabled_->isChecked();
    rule.match = static_cast<MatchKind>(match_->currentIndex());
    rule.pattern = BytesOfText(pattern_->text(), encoding_).bytes;
    rule.entry = BytesOfText(entry_->text().trimmed(), encoding_).bytes;
    rule.content = BytesOfText(content_->text(), encoding_).bytes;
    rule.asHex = asHex_->isChecked();
    rule.options = {static_cast<LineEnding>(ending_->currentIndex()), escapes_->isChecked(),
                    static_cast<ChecksumKind>(checksum_->currentIndex())};
    rule.delayMs = delay_->value();
    rule.line = static_cast<RuleLine>(line_->currentIndex());
    return rule;
  }

 private:
  QLineEdit* AddLine(QFormLayout* form, const QString& label, const std::string& text) {
    auto* line = new QLineEdit(ShownText(text, encoding_), this);
    form->addRow(label, line);
    return line;
  }

  void Check() {
    const struct {
      QLineEdit* line;
      const char* where;
    } kTyped[] = {{pattern_, "The pattern holds"},
                  {entry_, "The entry's name holds"},
                  {content_, "The content holds"}};
    for (const auto& typed : kTyped) {
      if (!TypedBytes(this, typed.line->text(), encoding_, typed.where)) {
        typed.line->setFocus();
        return;
      }
    }
    AnswerRule rule = Rule();
    if (std::string problem = PatternProblem(rule.match, rule.pattern); !problem.empty()) {
      ShowWarning(this, QStringLiteral("This pattern cannot be used: %1.").arg(Q(problem)));
      pattern_->setFocus();
      return;
    }
    accept();
  }

  TextEncoding encoding_;
  QCheckBox* enabled_;
  QComboBox* match_;
  QLineEdit* pattern_;
  QLineEdit* entry_;
  QLineEdit* content_;
  QCheckBox* asHex_;
  QCheckBox* escapes_;
  QComboBox* ending_;
  QComboBox* checksum_;
  QSpinBox* delay_;
  QComboBox* line_;
};

}  // namespace

std::optional<AnswerRules> EditAnswerRules(QWidget* parent, const AnswerRules& rules,
                                           const std::vector<std::string>& problems,
                                           TextEncoding encoding) {
  RulesDialog dialog(parent, rules, problems, encoding);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Rules();
}

std::optional<AnswerRule> EditAnswerRule(QWidget* parent, const AnswerRule& rule,
                                         TextEncoding encoding) {
  RuleDialog dialog(parent, rule, encoding);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Rule();
}

AnswerRulesControl::AnswerRulesControl(QWidget* window, TerminalState& state, StatusLine& status,
                                       std::filesystem::path settingsFile)
    : QObject(window),
      window_(window),
      state_(state),
      status_(status),
      settingsFile_(std::move(settingsFile)) {
  LoadedAnswerRules loaded = LoadAnswerRules(settingsFile_);
  rules_ = std::move(loaded.rules);
  loadProblems_ = std::move(loaded.problems);
  Install();
}

void AnswerRulesControl::BindCommands(WindowCommands& commands) {
  commands.Bind(Command::kAnswerRules, this, &AnswerRulesControl::Edit);
  commands.Bind(Command::kAnswerRulesOn, this, &AnswerRulesControl::SetEnabled);
  onAction_ = commands.Action(Command::kAnswerRulesOn);
  onAction_->setChecked(rules_.enabled);
}

void AnswerRulesControl::WatchBridgeRules(std::function<void()> changed) {
  bridgeChanged_ = std::move(changed);
  if (bridgeChanged_) bridgeChanged_();
}

void AnswerRulesControl::SetEntryLookup(EntryLookup lookup) {
  lookup_ = std::move(lookup);
  Install();
}

void AnswerRulesControl::Edit() {
  std::optional<AnswerRules> edited =
      EditAnswerRules(window_, rules_, problems_, SendEncodingOf(state_));
  if (!edited) return;
  rules_ = std::move(*edited);
  loadProblems_.clear();
  Save();
  Install();
}

void AnswerRulesControl::SetEnabled(bool on) {
  rules_.enabled = on;
  Save();
  Install();
}

void AnswerRulesControl::Save() {
  std::string problem;
  if (!SaveAnswerRules(rules_, settingsFile_, &problem)) ShowWarning(window_, Q(problem));
}

void AnswerRulesControl::Install() {
  problems_ = loadProblems_;
  std::vector<std::string> built;
  // Built even when off, for their problems; the workers get them only when on.
  AnswerRules all = rules_;
  all.enabled = true;
  auto table = AnswerRuleTable::Build(all, lookup_, &built, RuleLine::kPort);
  for (PairSide side : {PairSide::kA, PairSide::kB}) {
    auto& bridge = bridge_[static_cast<size_t>(side)];
    bridge = AnswerRuleTable::Build(all, lookup_, &built,
                                    side == PairSide::kA ? RuleLine::kA : RuleLine::kB);
    if (!rules_.enabled) bridge.reset();
  }
  size_t unusable = built.size();
  for (std::string& line : built) {
    if (std::find(problems_.begin(), problems_.end(), line) == problems_.end()) {
      problems_.push_back(std::move(line));
    }
  }
  size_t answering = table->Size();
  InstallAnswerRules(state_, rules_.enabled ? std::move(table) : nullptr);
  if (bridgeChanged_) bridgeChanged_();
  if (onAction_) onAction_->setChecked(rules_.enabled);
  QString text;
  if (rules_.enabled) {
    text = QStringLiteral("answer rules: %1").arg(answering);
    size_t onA = bridge_[0]->Size(), onB = bridge_[1]->Size();
    if (onA + onB > 0) {
      text += QStringLiteral(", bridge A\u2192 %1, B\u2192 %2").arg(onA).arg(onB);
    }
    if (unusable > 0) text += QStringLiteral(" (%1 unusable)").arg(unusable);
  }
  status_.SetText(StatusLine::Field::kRules, text);
}

}  // namespace quorvel
