#include "ui/app_icon.h"

namespace quorvel {

QIcon AppIcon() {
  QIcon icon;
  icon.addFile(QStringLiteral(":/quorvel/icons/quorvel-16.png"), QSize(16, 16));
  icon.addFile(QStringLiteral(":/quorvel/icons/quorvel-32.png"), QSize(32, 32));
  return icon;
}

}  // namespace quorvel
