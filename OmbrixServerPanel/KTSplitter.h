#ifndef KTSPLITTER_H
#define KTSPLITTER_H

#include <QSplitter>

// A splitter whose handles are KTSplitterHandle bars.
class KTSplitter : public QSplitter
{
    Q_OBJECT
public:
    explicit KTSplitter(QWidget* parent = nullptr);
    explicit KTSplitter(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    QSplitterHandle* createHandle() override;
};

#endif
