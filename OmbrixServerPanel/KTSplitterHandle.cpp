#include "KTSplitterHandle.h"

#include <QLinearGradient>
#include <QPainter>

KTSplitterHandle::KTSplitterHandle(Qt::Orientation orientation, QSplitter* parent)
    : QSplitterHandle(orientation, parent)
{
}

void KTSplitterHandle::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    const int w = width();
    const int h = height();

    // A horizontal splitter lays its cells side by side, so its handles stand
    // upright: the gradient then runs across them from left to right.
    const bool betweenColumns = orientation() == Qt::Horizontal;
    QLinearGradient gradient = betweenColumns ? QLinearGradient(0, h / 2.0, w, h / 2.0)
                                              : QLinearGradient(w / 2.0, 0, w / 2.0, h);
    gradient.setColorAt(0, QColor(250, 250, 250));
    gradient.setColorAt(1, QColor(190, 190, 190));
    painter.fillRect(rect(), gradient);

    painter.setPen(QColor(170, 170, 170));
    if (betweenColumns) {
        painter.drawLine(0, 0, 0, h - 1);
        painter.drawLine(6, 0, 6, h - 1);
    } else {
        painter.drawLine(0, 0, w - 1, 0);
        painter.drawLine(0, h - 1, w - 1, h - 1);
    }
}
