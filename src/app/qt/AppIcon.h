// The application icon, drawn at start-up rather than shipped as an image: an operator panel
// (bezel and screen) with an arrow pointing into it.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace tarvex::qt {

QPixmap AppIconPixmap(int size);
QIcon AppIcon();  // 16 to 128 pixels

}  // namespace tarvex::qt
