#include "KTPanelView.h"

#include "KTPanelViewPage.h"

#include <KTPanetBase.h>

#include <QIcon>
#include <QToolButton>

KTPanelView::KTPanelView(QWidget* parent)
    : QTabWidget(parent)
{
    setTabShape(QTabWidget::Triangular);
    addTab(newPage(), QStringLiteral("1"));

    auto* addButton = new QToolButton(this);
    addButton->setIcon(QIcon(QStringLiteral(":/Resources/Images/imgAdd.png")));
    setCornerWidget(addButton, Qt::TopRightCorner);
    connect(addButton, &QToolButton::clicked, this, &KTPanelView::updateTabs);
    connect(this, &QTabWidget::tabCloseRequested, this, &KTPanelView::closeTab);
}

void KTPanelView::showPanet(KTPanetBase* panet, bool show)
{
    if (!panet)
        return;
    if (show) {
        // A Panet lives in one cell only: checking it again while another tab
        // shows it leaves it there.
        for (int index = 0; index < count(); ++index) {
            if (page(index)->holdsPanet(panet)) {
                emit panetShowRequest(panet->name(), true);
                return;
            }
        }
        if (KTPanelViewPage* current = page(currentIndex()))
            current->addPanet(panet);
        return;
    }
    for (int index = 0; index < count(); ++index)
        if (page(index)->removePanet(panet))
            return;
    // Every page has just reported the Panet as still shown; it is not.
    emit panetShowRequest(panet->name(), false);
}

void KTPanelView::setPageSize(int rows, int columns)
{
    _rows = rows;
    _columns = columns;
    for (int index = 0; index < count(); ++index)
        page(index)->setSize(rows, columns);
}

int KTPanelView::rowCount() const
{
    return _rows;
}

int KTPanelView::columnCount() const
{
    return _columns;
}

KTPanelViewPage* KTPanelView::page(int index) const
{
    return qobject_cast<KTPanelViewPage*>(widget(index));
}

void KTPanelView::updateTabs()
{
    KTPanelViewPage* added = newPage();
    added->setSize(_rows, _columns);
    setCurrentIndex(addTab(added, QString::number(count() + 1)));
    setTabsClosable(true);
}

void KTPanelView::closeTab(int index)
{
    KTPanelViewPage* closing = page(index);
    if (!closing || count() < 2)
        return;
    // By position rather than by label: Panets sharing a label all go.
    const auto shown = closing->panetPosition();
    for (auto it = shown.cbegin(); it != shown.cend(); ++it)
        showPanet(it.key(), false);
    delete closing;
    for (int tab = 0; tab < count(); ++tab)
        setTabText(tab, QString::number(tab + 1));
    if (count() < 2)
        setTabsClosable(false);
}

KTPanelViewPage* KTPanelView::newPage()
{
    auto* created = new KTPanelViewPage;
    connect(created, &KTPanelViewPage::panetShowRequest, this, &KTPanelView::panetShowRequest);
    return created;
}
