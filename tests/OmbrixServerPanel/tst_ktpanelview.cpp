#include <KTPanelView.h>
#include <KTPanelViewPage.h>
#include <KTPanetBase.h>
#include <KTSplitter.h>
#include <KTSplitterHandle.h>

#include <QGroupBox>
#include <QPointer>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

namespace {

class TestPanet : public KTPanetBase
{
public:
    explicit TestPanet(const QString& name) : _name(name) {}
    QString areaLabel() override { return QStringLiteral("Pruebas"); }
    QString areaName() override { return QStringLiteral("Test"); }
    QIcon icon() override { return QIcon(); }
    QString label() override { return QStringLiteral("Etiqueta ") + _name; }
    QString name() override { return _name; }
    void setup() override {}
    void setEmitterObject(QObject* emitter) override { _emitter = emitter; }

private:
    QString _name;
};

// A shown Panet is a child of its cell and goes with the page; the set deletes
// the others. Declare it before the page or view.
struct PanetSet
{
    QList<QPointer<TestPanet>> all;
    ~PanetSet() { for (const auto& panet : all) delete panet.data(); }
    TestPanet* make(const QString& name) { all << new TestPanet(name); return all.last(); }
};

using Signal = QPair<QString, bool>;
using Position = KTPanelViewPage::Position;
using Positions = QMap<KTPanetBase*, Position>;

QList<Signal> signalsOf(const QSignalSpy& spy)
{
    QList<Signal> list;
    for (const QList<QVariant>& arguments : spy)
        list << Signal(arguments.at(0).toString(), arguments.at(1).toBool());
    return list;
}

// The check mark each Panet's action is left with.
QMap<QString, bool> checkMarks(const QSignalSpy& spy)
{
    QMap<QString, bool> marks;
    for (const Signal& signal : signalsOf(spy))
        marks.insert(signal.first, signal.second);
    return marks;
}

// Cell titles as the splitters lay them out, row by row.
QStringList cellTitles(const KTPanelViewPage& page)
{
    const auto grids = page.findChildren<KTSplitter*>(QString(), Qt::FindDirectChildrenOnly);
    if (grids.size() != 1)
        return {QStringLiteral("%1 grids").arg(grids.size())};
    QStringList titles;
    for (int row = 0; row < grids.first()->count(); ++row) {
        const auto* columns = qobject_cast<const QSplitter*>(grids.first()->widget(row));
        for (int column = 0; columns && column < columns->count(); ++column)
            titles << qobject_cast<const QGroupBox*>(columns->widget(column))->title();
    }
    return titles;
}

QStringList tabTexts(const KTPanelView& view)
{
    QStringList texts;
    for (int index = 0; index < view.count(); ++index)
        texts << view.tabText(index);
    return texts;
}

} // namespace

class tst_KTPanelView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pageRefusals()
    {
        PanetSet panets;
        TestPanet* a = panets.make("A");
        TestPanet* b = panets.make("B");
        KTPanelViewPage page;
        QSignalSpy spy(&page, &KTPanelViewPage::panetShowRequest);

        QVERIFY(!page.addPanet(a)); // no cells before the grid is sized
        page.setSize(1, 1);
        QVERIFY(!page.removePanet(a)); // never shown
        QVERIFY(page.addPanet(a));
        QVERIFY(!page.addPanet(b)); // page full
        QVERIFY(page.addPanet(a));  // already there: stays put
        QCOMPARE(signalsOf(spy), (QList<Signal>{{"A", false}, {"A", true}, {"A", true}, {"B", false}, {"A", true}}));
        QCOMPARE(page.panetPosition(), (Positions{{a, Position(0, 0)}}));
        QCOMPARE(cellTitles(page), QStringList{"Etiqueta A"});
        QVERIFY(!b->parentWidget());

        spy.clear();
        page.setSize(0, 0); // no cells: A is hidden, nothing fits
        QVERIFY(!page.addPanet(a));
        QCOMPARE(signalsOf(spy), (QList<Signal>{{"A", false}, {"A", false}}));
        QVERIFY(page.findChildren<QGroupBox*>().isEmpty());
        page.setSize(-2, 2);
        QCOMPARE(page.rowCount(), 0);
    }

    void resizingKeepsPanetsInRowMajorOrder()
    {
        PanetSet panets;
        TestPanet* a = panets.make("A");
        TestPanet* b = panets.make("B");
        TestPanet* c = panets.make("C");
        TestPanet* d = panets.make("D");
        TestPanet* e = panets.make("E");
        KTPanelViewPage page;
        page.setSize(2, 2);
        for (TestPanet* panet : {a, b, c, d})
            QVERIFY(page.addPanet(panet));
        // E takes A's freed cell; sorting last by label, it tells grid order from label order.
        QVERIFY(page.removePanet(a));
        QVERIFY(page.addPanet(e));
        QCOMPARE(cellTitles(page), (QStringList{"Etiqueta E", "Etiqueta B", "Etiqueta C", "Etiqueta D"}));

        QSignalSpy spy(&page, &KTPanelViewPage::panetShowRequest);
        page.setSize(1, 3);
        QCOMPARE(page.panetPosition(), (Positions{{e, Position(0, 0)}, {b, Position(0, 1)}, {c, Position(0, 2)}}));
        QCOMPARE(checkMarks(spy), (QMap<QString, bool>{{"E", true}, {"B", true}, {"C", true}, {"D", false}}));

        page.setSize(2, 2);
        QVERIFY(page.addPanet(d));
        spy.clear();
        page.setSize(1, 1);
        QCOMPARE(page.panetPosition(), (Positions{{e, Position(0, 0)}}));
        QCOMPARE(page.panetMap().keys(), QStringList{"Etiqueta E"});
        QCOMPARE(checkMarks(spy), (QMap<QString, bool>{{"E", true}, {"B", false}, {"C", false}, {"D", false}}));
        for (TestPanet* hidden : {b, c, d})
            QVERIFY(!hidden->parentWidget() && !hidden->isVisible());

        spy.clear();
        page.setSize(2, 2); // growing brings back nothing that was hidden
        QCOMPARE(page.panetPosition(), (Positions{{e, Position(0, 0)}}));
        QCOMPARE(checkMarks(spy), (QMap<QString, bool>{{"E", true}}));
        QCOMPARE(cellTitles(page), (QStringList{"Etiqueta E", "", "", ""}));
    }

    void viewAddsTabsOfTheStoredSize()
    {
        KTPanelView view;
        QCOMPARE(tabTexts(view), QStringList{"1"});
        QCOMPARE(view.tabShape(), QTabWidget::Triangular);
        QVERIFY(!view.tabsClosable());
        QVERIFY(!view.page(1));
        view.setPageSize(2, 3);
        auto* add = qobject_cast<QToolButton*>(view.cornerWidget(Qt::TopRightCorner));
        QVERIFY(add);
        add->click();
        QCOMPARE(tabTexts(view), (QStringList{"1", "2"}));
        QCOMPARE(view.currentIndex(), 1);
        QVERIFY(view.tabsClosable());
        for (int index : {0, 1})
            QCOMPARE(Position(view.page(index)->rowCount(), view.page(index)->columnCount()), Position(2, 3));
    }

    void viewShowsOnCurrentPageAndHidesWhereverHeld()
    {
        PanetSet panets;
        TestPanet* a = panets.make("A");
        TestPanet* b = panets.make("B");
        TestPanet* c = panets.make("C");
        KTPanelView view;
        view.setPageSize(1, 1);
        view.showPanet(a, true);
        view.updateTabs();
        view.showPanet(b, true);
        QVERIFY(view.page(0)->holdsPanet(a) && view.page(1)->holdsPanet(b));

        QSignalSpy spy(&view, &KTPanelView::panetShowRequest);
        view.showPanet(a, true); // shown on another tab: stays there
        QVERIFY(view.page(0)->holdsPanet(a));
        QCOMPARE(signalsOf(spy), (QList<Signal>{{"A", true}}));
        view.showPanet(a, false);
        view.showPanet(c, false); // on no page: the action must still end unchecked
        QCOMPARE(checkMarks(spy), (QMap<QString, bool>{{"A", false}, {"C", false}}));
        QVERIFY(!a->parentWidget() && view.page(1)->holdsPanet(b));
    }

    void closingTabsRenumbersAndHidesTheirPanets()
    {
        PanetSet panets;
        const QList<TestPanet*> shown{panets.make("A"), panets.make("B"), panets.make("C")};
        KTPanelView view;
        view.setPageSize(1, 1);
        for (int tab = 0; tab < 3; ++tab) {
            if (tab)
                view.updateTabs();
            view.showPanet(shown.at(tab), true);
        }
        QSignalSpy spy(&view, &KTPanelView::panetShowRequest);

        view.closeTab(1);
        QCOMPARE(tabTexts(view), (QStringList{"1", "2"}));
        QVERIFY(view.tabsClosable());
        QCOMPARE(checkMarks(spy), (QMap<QString, bool>{{"B", false}}));
        QVERIFY(!shown.at(1)->parentWidget());
        QVERIFY(view.page(0)->holdsPanet(shown.at(0)) && view.page(1)->holdsPanet(shown.at(2)));

        view.closeTab(2);
        view.closeTab(-1);
        QCOMPARE(view.count(), 2);
        view.closeTab(0);
        view.closeTab(0); // the last tab stays
        QCOMPARE(tabTexts(view), QStringList{"1"});
        QVERIFY(!view.tabsClosable());
        QVERIFY(view.page(0)->holdsPanet(shown.at(2)));
    }

    void splitterHandlesPaintTheirGradient_data()
    {
        QTest::addColumn<Qt::Orientation>("orientation");
        QTest::newRow("between columns") << Qt::Horizontal;
        QTest::newRow("between rows") << Qt::Vertical;
    }

    void splitterHandlesPaintTheirGradient()
    {
        QFETCH(Qt::Orientation, orientation);
        KTSplitter splitter(orientation);
        splitter.addWidget(new QWidget);
        splitter.addWidget(new QWidget);
        splitter.resize(200, 120);
        splitter.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splitter));
        QVERIFY(qobject_cast<KTSplitterHandle*>(splitter.handle(1)));

        const QRect handle = splitter.handle(1)->geometry();
        const bool upright = orientation == Qt::Horizontal;
        const int depth = upright ? handle.width() : handle.height();
        QVERIFY2(depth >= 3, "handle too thin to tell lines from gradient");
        const QImage image = splitter.grab().toImage();
        // Grey level at `along` pixels into the gradient, halfway across the handle; -1 if not grey.
        auto grey = [&](int along) {
            const QPoint offset = upright ? QPoint(along, handle.height() / 2) : QPoint(handle.width() / 2, along);
            const QColor colour = image.pixelColor(handle.topLeft() + offset);
            return colour.red() == colour.green() && colour.green() == colour.blue() ? colour.red() : -1;
        };
        QCOMPARE(grey(0), 170);
        if (!upright)
            QCOMPARE(grey(depth - 1), 170);
        const int light = grey(1);
        const int dark = grey(qMin(depth - 2, 5)); // clear of the lines at 6 and at the bottom
        QVERIFY2(light <= 250 && dark >= 190 && light > dark, qPrintable(QStringLiteral("%1 %2").arg(light).arg(dark)));
    }
};

QTEST_MAIN(tst_KTPanelView)
#include "tst_ktpanelview.moc"
