#include <KTMainWindow.h>

#include <QtTest>

#include <memory>

class tst_KTMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void instanceFollowsTheWindowsLife()
    {
        QVERIFY(KTMainWindow::mainWindowInstance() == nullptr);
        {
            KTMainWindow window;
            QCOMPARE(KTMainWindow::mainWindowInstance(), &window);
        }
        QVERIFY(KTMainWindow::mainWindowInstance() == nullptr);
    }

    void secondWindowReplacesTheFirst()
    {
        auto first = std::make_unique<KTMainWindow>();
        auto second = std::make_unique<KTMainWindow>();
        QCOMPARE(KTMainWindow::mainWindowInstance(), second.get());
        first.reset();
        QVERIFY(KTMainWindow::mainWindowInstance() == nullptr);
        second.reset();
        QVERIFY(KTMainWindow::mainWindowInstance() == nullptr);
    }

    void baseAnswersAreEmpty()
    {
        KTMainWindow window;
        QVERIFY(!window.establishConnection());
        QVERIFY(!window.loadTablesFromFiles());
        QVERIFY(window.tableMainStats("accUser").isEmpty());
        window.setTableMainStats("accUser", {1, 2, 3, 4, 5, 6, 7});
        QVERIFY(window.tableMainStats("accUser").isEmpty());
        QVERIFY(window.tableRecordDataModel() == nullptr);
        QVERIFY(window.systemObjectsList().isEmpty());
        QVERIFY(window.companyName().isEmpty() && window.password().isEmpty());
    }
};

QTEST_MAIN(tst_KTMainWindow)
#include "tst_ktmainwindow.moc"
