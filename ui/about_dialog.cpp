#include "ui/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "ui/app_icon.h"
#include "ui/branding.h"
#include "ui/dialog_template.h"

namespace quorvel {
namespace {

constexpr QSize kAboutDialogDlu{262, 67};
constexpr DluRect kIconAt{11, 17, 0, 0};
constexpr DluRect kToolLine{39, 10, 149, 8};
constexpr DluRect kMakerLine{39, 27, 179, 8};
constexpr DluRect kAddressLine{39, 44, 179, 8};
constexpr DluRect kOkButton{205, 7, 50, 14};
constexpr int kIconPixels = 32;

QLabel* Line(QWidget* parent, const QString& text, const DluRect& rect, const DialogUnits& units) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setGeometry(units.ToPixels(rect));
  return label;
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About %1").arg(QString::fromLatin1(kProductName)));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(DialogFont(10));
  DialogUnits units(font());
  setFixedSize(units.ToPixels(kAboutDialogDlu));

  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(kIconPixels, kIconPixels));
  QRect iconRect = units.ToPixels(kIconAt);
  icon->setGeometry(iconRect.x(), iconRect.y(), kIconPixels, kIconPixels);
  icon->setAccessibleName(QStringLiteral("Icon"));

  Line(this,
       QStringLiteral("%1 %2 %3")
           .arg(QString::fromLatin1(kMakerShortName), QString::fromLatin1(kProductName),
                QString::fromLatin1(kVersionText)),
       kToolLine, units);
  Line(this,
       QStringLiteral("Copyright (C) %1 %2")
           .arg(QString::fromLatin1(kCopyrightYear), QString::fromLatin1(kMakerName)),
       kMakerLine, units);
  Line(this, QString::fromLatin1(kMakerWebAddress), kAddressLine, units);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("control1"));
  ok->setGeometry(units.ToPixels(kOkButton));
  ok->setDefault(true);
  ok->setFocus();
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace quorvel
