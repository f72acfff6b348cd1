#include "KTPanelViewPage.h"

#include "KTSplitter.h"
#include "ui_uiPanelViewPage.h"

#include <KTPanetBase.h>

#include <QGroupBox>
#include <QVBoxLayout>

KTPanelViewPage::KTPanelViewPage(QWidget* parent)
    : QWidget(parent)
    , _ui(new Ui::uiPanelViewPage)
{
    _ui->setupUi(this);
    // No cells until the view hands down the grid size.
    setSize(0, 0);
}

KTPanelViewPage::~KTPanelViewPage()
{
    delete _ui;
}

bool KTPanelViewPage::addPanet(KTPanetBase* panet)
{
    if (!panet)
        return false;
    const QString name = panet->name();
    // Placing it again would move the widget and leave its old cell taken.
    if (holdsPanet(panet)) {
        emit panetShowRequest(name, true);
        return true;
    }
    for (int row = 0; row < _panetHolders.size(); ++row) {
        for (int column = 0; column < _panetHolders.at(row).size(); ++column) {
            QGroupBox* cell = _panetHolders.at(row).at(column);
            // A Panet without a label leaves its cell's title empty, so the
            // recorded positions decide as well whether a cell is taken.
            if (!cell->title().isEmpty() || _panetPosition.values().contains(Position(row, column)))
                continue;
            cell->layout()->addWidget(panet);
            cell->setTitle(panet->label());
            panet->show();
            _panetPosition.insert(panet, Position(row, column));
            _panetMap.insert(panet->label(), panet);
            emit panetShowRequest(name, true);
            return true;
        }
    }
    emit panetShowRequest(name, false);
    return false;
}

bool KTPanelViewPage::removePanet(KTPanetBase* panet)
{
    if (!panet)
        return false;
    const QString name = panet->name();
    const auto position = _panetPosition.find(panet);
    if (position == _panetPosition.end()) {
        emit panetShowRequest(name, true);
        return false;
    }
    // Two Panets may share a label; only this one's entry goes.
    if (_panetMap.value(panet->label()) == panet)
        _panetMap.remove(panet->label());
    if (QGroupBox* cell = cellAt(position.value())) {
        cell->layout()->removeWidget(panet);
        cell->setTitle(QString());
    }
    panet->setParent(nullptr);
    _panetPosition.erase(position);
    // The name was taken before: a Panet that deletes itself on close is gone here.
    panet->close();
    emit panetShowRequest(name, false);
    return true;
}

void KTPanelViewPage::setSize(int rows, int columns)
{
    if (rows <= 0 || columns <= 0)
        rows = columns = 0;

    // Cells are kept (rather than rebuilt) so that the grid keeps its look;
    // they are detached first because their splitters are about to go.
    QList<KTPanetBase*> shown;
    QList<QGroupBox*> spareCells;
    for (int row = 0; row < _panetHolders.size(); ++row) {
        for (int column = 0; column < _panetHolders.at(row).size(); ++column) {
            QGroupBox* cell = _panetHolders.at(row).at(column);
            cell->setParent(nullptr);
            if (KTPanetBase* panet = _panetPosition.key(Position(row, column), nullptr)) {
                shown << panet;
                removePanet(panet);
            }
            cell->setTitle(QString());
            spareCells << cell;
        }
    }
    _panetHolders.clear();
    _panetPosition.clear();
    _panetMap.clear();

    const QList<KTSplitter*> splitters = findChildren<KTSplitter*>(QString(), Qt::FindDirectChildrenOnly);
    for (auto it = splitters.crbegin(); it != splitters.crend(); ++it)
        delete *it;
    auto* rowsSplitter = new KTSplitter(Qt::Vertical, this);
    _ui->verticalLayout->addWidget(rowsSplitter);

    for (int row = 0; row < rows; ++row) {
        auto* columnsSplitter = new KTSplitter(Qt::Horizontal);
        rowsSplitter->addWidget(columnsSplitter);
        QList<QGroupBox*> cells;
        for (int column = 0; column < columns; ++column) {
            QGroupBox* cell = spareCells.isEmpty() ? nullptr : spareCells.takeFirst();
            if (!cell) {
                cell = new QGroupBox;
                new QVBoxLayout(cell);
            }
            columnsSplitter->addWidget(cell);
            cell->show();
            cells << cell;
        }
        _panetHolders << cells;
    }

    const int room = rows * columns;
    for (int i = 0; i < shown.size() && i < room; ++i)
        addPanet(shown.at(i));

    qDeleteAll(spareCells);
}

int KTPanelViewPage::rowCount() const
{
    return _panetHolders.size();
}

int KTPanelViewPage::columnCount() const
{
    return _panetHolders.isEmpty() ? 0 : _panetHolders.first().size();
}

bool KTPanelViewPage::holdsPanet(KTPanetBase* panet) const
{
    return _panetPosition.contains(panet);
}

QMap<QString, KTPanetBase*> KTPanelViewPage::panetMap() const
{
    return _panetMap;
}

QMap<KTPanetBase*, KTPanelViewPage::Position> KTPanelViewPage::panetPosition() const
{
    return _panetPosition;
}

QGroupBox* KTPanelViewPage::cellAt(const Position& position) const
{
    if (position.first < 0 || position.first >= _panetHolders.size())
        return nullptr;
    const QList<QGroupBox*>& cells = _panetHolders.at(position.first);
    if (position.second < 0 || position.second >= cells.size())
        return nullptr;
    return cells.at(position.second);
}
