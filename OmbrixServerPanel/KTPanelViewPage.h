#ifndef KTPANELVIEWPAGE_H
#define KTPANELVIEWPAGE_H

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QWidget>

class KTPanetBase;
class QGroupBox;

namespace Ui {
class uiPanelViewPage;
}

// One tab of the panel view: a grid of rows x columns cells (group boxes in
// splitters), each holding at most one Panet. A cell is free while its title
// is empty; a held Panet is the cell's child, so a page destroyed with Panets
// still in it destroys them too (the view takes them out before it closes a
// tab). Every change of a Panet's shown state, and every refusal, is reported
// through panetShowRequest so that the Panet's tool-bar action can follow it.
class KTPanelViewPage : public QWidget
{
    Q_OBJECT
public:
    using Position = QPair<int, int>; // (row, column)

    explicit KTPanelViewPage(QWidget* parent = nullptr);
    ~KTPanelViewPage() override;

    // Puts the Panet into the first free cell, row by row; false when the page is full.
    bool addPanet(KTPanetBase* panet);
    // Takes the Panet off the page; false when the page does not hold it.
    bool removePanet(KTPanetBase* panet);
    // Rebuilds the grid; the Panets shown so far are put back in row-major
    // order as far as the new grid has room, the rest stay hidden.
    void setSize(int rows, int columns);

    int rowCount() const;
    int columnCount() const;
    bool holdsPanet(KTPanetBase* panet) const;

    QMap<QString, KTPanetBase*> panetMap() const;        // by label()
    QMap<KTPanetBase*, Position> panetPosition() const;

Q_SIGNALS:
    void panetShowRequest(const QString& panetName, bool shown);

private:
    QGroupBox* cellAt(const Position& position) const;

    Ui::uiPanelViewPage* _ui;
    QList<QList<QGroupBox*>> _panetHolders;
    QMap<KTPanetBase*, Position> _panetPosition;
    QMap<QString, KTPanetBase*> _panetMap;
};

#endif
