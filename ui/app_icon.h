// The application icon (resource 128): a terminal screen showing serial bits
// above a 9-pin connector, with a 32 x 32 and a 16 x 16 image.
#pragma once

#include <QIcon>

namespace quorvel {

QIcon AppIcon();

}  // namespace quorvel
