#ifndef KTSPLITTERHANDLE_H
#define KTSPLITTERHANDLE_H

#include <QSplitterHandle>

// The bar between two cells of a panel page: a light-to-dark grey gradient
// across the bar with thin darker lines, the same on every style.
class KTSplitterHandle : public QSplitterHandle
{
    Q_OBJECT
public:
    KTSplitterHandle(Qt::Orientation orientation, QSplitter* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

#endif
