#include "ui/script_pane.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTextBlock>
#include <QVBoxLayout>

#include "script/script_report.h"
#include "script/script_steps.h"
#include "ui/message_box.h"
#include "ui/script_editor.h"

namespace quorvel {
namespace {

const QColor kPassed(0x1b, 0x7f, 0x2a);
const QColor kFailed(0xc0, 0x1c, 0x28);

QString Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return QString::fromUtf8(text);
}

}  // namespace

ScriptPane::ScriptPane(QWidget* parent) : QWidget(parent) {
  setAccessibleName(QStringLiteral("Script"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  auto* row = new QHBoxLayout;
  auto button = [&](const QString& text) {
    auto* made = new QPushButton(text, this);
    made->setAutoDefault(false);  // Enter in the editor is a new line, never a click
    row->addWidget(made);
    return made;
  };
  connect(button(QStringLiteral("Open…")), &QPushButton::clicked, this, &ScriptPane::AskOpen);
  connect(button(QStringLiteral("Save")), &QPushButton::clicked, this, [this] { Save(false); });
  connect(button(QStringLiteral("Save as…")), &QPushButton::clicked, this, [this] { Save(true); });
  runButton_ = button(QStringLiteral("Run"));
  stopButton_ = button(QStringLiteral("Stop"));
  connect(runButton_, &QPushButton::clicked, this, [this] {
    if (run_) run_();
  });
  connect(stopButton_, &QPushButton::clicked, this, [this] {
    if (stop_) stop_();
  });
  name_ = new QLabel(this);
  name_->setTextFormat(Qt::PlainText);
  row->addWidget(name_, 1);
  column->addLayout(row);

  auto* split = new QSplitter(Qt::Vertical, this);
  editor_ = new ScriptEditor(split);
  editor_->setAccessibleName(QStringLiteral("Script text"));
  output_ = new QPlainTextEdit(split);
  output_->setAccessibleName(QStringLiteral("Script output"));
  output_->setReadOnly(true);
  output_->setMaximumBlockCount(kMaxOutputLines);
  output_->setFont(editor_->font());
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  column->addWidget(split, 1);
  SetRunning(false);
  name_->setText(ScriptName());
}

QString ScriptPane::ScriptName() const {
  return file_.isEmpty() ? QStringLiteral("script.lua") : QFileInfo(file_).fileName();
}

QString ScriptPane::Code() const {
  return editor_->toPlainText();
}

bool ScriptPane::OpenFile(const QString& path, QString& problem) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    problem = file.errorString();
    return false;
  }
  if (file.size() > kMaxFileBytes) {
    problem = QStringLiteral("larger than %1 MiB").arg(kMaxFileBytes >> 20);
    return false;
  }
  QByteArray bytes = file.read(kMaxFileBytes + 1);
  if (bytes.size() > kMaxFileBytes) {
    problem = QStringLiteral("larger than %1 MiB").arg(kMaxFileBytes >> 20);
    return false;
  }
  QString text = QString::fromUtf8(bytes);
  // Bytes that are not UTF-8 (a Latin-1 comment) keep their values through
  // an edit and a save.
  latin1_ = text.toUtf8() != bytes;
  if (latin1_) text = QString::fromLatin1(bytes);
  editor_->setPlainText(text);
  file_ = path;
  name_->setText(ScriptName());
  name_->setToolTip(path);
  if (changed_) changed_(path);
  return true;
}

bool ScriptPane::SaveFile(const QString& path, QString& problem) {
  QSaveFile file(path);
  QString text = Code();
  QByteArray bytes = latin1_ ? text.toLatin1() : text.toUtf8();
  if (latin1_ && QString::fromLatin1(bytes) != text) bytes = text.toUtf8();  // typed past Latin-1
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    problem = file.errorString();
    return false;
  }
  latin1_ = latin1_ && QString::fromLatin1(bytes) == text;
  editor_->document()->setModified(false);
  file_ = path;
  name_->setText(ScriptName());
  name_->setToolTip(path);
  if (changed_) changed_(path);
  return true;
}

void ScriptPane::AskOpen() {
  QString path =
      QFileDialog::getOpenFileName(this, QStringLiteral("Open script"), QFileInfo(file_).path(),
                                   QStringLiteral("Lua scripts (*.lua);;All files (*)"));
  if (path.isEmpty()) return;
  if (QString problem; !OpenFile(path, problem)) {
    ShowWarning(this, QStringLiteral("Cannot open %1: %2").arg(path, problem));
  }
}

void ScriptPane::Save(bool askName) {
  QString path = file_;
  if (askName || path.isEmpty()) {
    path = QFileDialog::getSaveFileName(this, QStringLiteral("Save script"),
                                        path.isEmpty() ? QStringLiteral("script.lua") : path,
                                        QStringLiteral("Lua scripts (*.lua);;All files (*)"));
  }
  if (path.isEmpty()) return;
  if (QString problem; !SaveFile(path, problem)) {
    ShowWarning(this, QStringLiteral("Cannot save %1: %2").arg(path, problem));
  }
}

void ScriptPane::SetRunning(bool running) {
  runButton_->setEnabled(!running);
  stopButton_->setEnabled(running);
}

void ScriptPane::ClearOutput() {
  output_->clear();
}

void ScriptPane::Append(const QString& text, const QColor* colour) {
  QTextCursor cursor(output_->document());
  cursor.movePosition(QTextCursor::End);
  if (!output_->document()->isEmpty()) cursor.insertBlock();
  QTextCharFormat format;
  if (colour) format.setForeground(*colour);
  cursor.insertText(text, format);
  output_->ensureCursorVisible();
  output_->moveCursor(QTextCursor::End);
}

void ScriptPane::AppendPrinted(const QString& text) {
  QString shown = text;
  if (shown.endsWith(QLatin1Char('\n'))) shown.chop(1);
  Append(shown, nullptr);
}

void ScriptPane::AppendStep(const ScriptStep& step) {
  Append(Trimmed(PlainStep(step)), step.passed ? &kPassed : &kFailed);
}

void ScriptPane::AppendNote(const QString& text, bool bad) {
  Append(text, bad ? &kFailed : nullptr);
}

}  // namespace quorvel
