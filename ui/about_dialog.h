// The About box (template 100): the icon, three lines naming the tool, its
// version and its maker, and OK. OK, Enter and Escape close it; it opens
// centred over its parent.
#pragma once

#include <QDialog>

namespace quorvel {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent);
};

}  // namespace quorvel
