// The Script pane's widgets: a row of buttons (Open…, Save, Save as…, Run,
// Stop) with the file's name, the editor, and below it what the run says:
// its printed lines, each step as "PASS name (0.012 s)" or "FAIL ..." and
// the summary. It knows nothing of the link: Run and Stop are handed to its
// owner (ScriptViewer). UI thread.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace quorvel {

class ScriptEditor;
struct ScriptStep;

class ScriptPane : public QWidget {
 public:
  // The largest script the editor opens.
  static constexpr qint64 kMaxFileBytes = 4 << 20;
  // What the output keeps: the oldest lines go first.
  static constexpr int kMaxOutputLines = 20000;

  explicit ScriptPane(QWidget* parent);

  // Each is told by its button.
  void OnRun(std::function<void()> run) { run_ = std::move(run); }
  void OnStop(std::function<void()> stop) { stop_ = std::move(stop); }
  // Told with the path after a file was opened or saved.
  void OnFileChanged(std::function<void(const QString&)> changed) { changed_ = std::move(changed); }

  // Loads `path` into the editor; false and why (no such file, too large)
  // with the editor as it was.
  bool OpenFile(const QString& path, QString& problem);
  // Writes the editor's text to `path` (in the encoding it was read in),
  // replacing the file whole; false and why.
  bool SaveFile(const QString& path, QString& problem);
  QString File() const { return file_; }
  // The name messages give the script: the file's, or "script.lua".
  QString ScriptName() const;
  QString Code() const;

  void SetRunning(bool running);
  void ClearOutput();
  void AppendPrinted(const QString& text);
  void AppendStep(const ScriptStep& step);
  // A line of the run's own: its summary, an error, a refusal.
  void AppendNote(const QString& text, bool bad);

  ScriptEditor& Editor() const { return *editor_; }
  QPlainTextEdit& Output() const { return *output_; }
  QPushButton* RunButton() const { return runButton_; }
  QPushButton* StopButton() const { return stopButton_; }

 private:
  void AskOpen();
  void Save(bool askName);
  void Append(const QString& text, const QColor* colour);

  ScriptEditor* editor_;
  QPlainTextEdit* output_;
  QLabel* name_;
  QPushButton* runButton_;
  QPushButton* stopButton_;
  QString file_;
  bool latin1_ = false;  // the file was not UTF-8: it is written back byte for byte
  std::function<void()> run_;
  std::function<void()> stop_;
  std::function<void(const QString&)> changed_;
};

}  // namespace quorvel
