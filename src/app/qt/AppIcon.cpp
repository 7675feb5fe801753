#include "app/qt/AppIcon.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace tarvex::qt {

QPixmap AppIconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);  // drawn on a 64 x 64 grid

    // Bezel and screen of the panel.
    p.setPen(QPen(QColor(0x1f, 0x2a, 0x36), 2));
    p.setBrush(QColor(0x3b, 0x4a, 0x5a));
    p.drawRoundedRect(QRectF(4, 8, 56, 44), 6, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2f, 0x9e, 0x6e));
    p.drawRoundedRect(QRectF(10, 14, 44, 30), 3, 3);
    // Stand.
    p.setBrush(QColor(0x3b, 0x4a, 0x5a));
    p.drawRect(QRectF(26, 52, 12, 6));

    // The arrow of a download, into the screen.
    QPolygonF arrow;
    arrow << QPointF(27, 18) << QPointF(37, 18) << QPointF(37, 28) << QPointF(44, 28)
          << QPointF(32, 40) << QPointF(20, 28) << QPointF(27, 28);
    p.setBrush(Qt::white);
    p.drawPolygon(arrow);
    p.end();
    return pixmap;
}

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128}) {
        icon.addPixmap(AppIconPixmap(size));
    }
    return icon;
}

}  // namespace tarvex::qt
