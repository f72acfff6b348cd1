#ifndef KTPANELOPTIONS_H
#define KTPANELOPTIONS_H

#include <QDialog>

namespace Ui {
class uiPanelOptions;
}

// Lets the operator choose the rows and columns of the panel pages' grid.
// Only an accepted choice counts: cancelling puts the last accepted values
// back into the spin boxes. The panel creates it without a parent, as a
// window of its own (its window flags carry no window type).
class KTPanelOptions : public QDialog
{
    Q_OBJECT
public:
    explicit KTPanelOptions(QWidget* parent = nullptr);
    ~KTPanelOptions() override;

    // Values outside the spin boxes' range 1..9 are brought into it.
    void setSize(int rows, int columns);
    int rowCount() const;
    int columnCount() const;

public Q_SLOTS:
    void updateValues();
    void restoreValues();

Q_SIGNALS:
    void valuesUpdated(int rows, int columns);

private:
    Ui::uiPanelOptions* _ui;
    int _rows = 0;
    int _columns = 0;
};

#endif
