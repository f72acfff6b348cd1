#include "KTSplitter.h"

#include "KTSplitterHandle.h"

KTSplitter::KTSplitter(QWidget* parent)
    : QSplitter(parent)
{
}

KTSplitter::KTSplitter(Qt::Orientation orientation, QWidget* parent)
    : QSplitter(orientation, parent)
{
}

QSplitterHandle* KTSplitter::createHandle()
{
    return new KTSplitterHandle(orientation(), this);
}
