#include "PanetTestSupport.h"

#include <KT.h>
#include <KTMainWindow.h>
#include <KTPanetBase.h>
#include <KTPluginLoader.h>

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

#include <memory>

class tst_Panets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void identity_data();
    void identity();
    void logColours_data();
    void logColours();
    void logRows();
    void modelPage_data();
    void modelPage();
    void authorizationPageShowsBindings();
    void databaseUnreachable();
    void databaseReachable();
    void databaseWithoutMainWindow();
};

void tst_Panets::identity_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("configIcon");
    QTest::newRow("LogPanet") << "Logs" << "LogPanetConfig.png";
    QTest::newRow("DatabasePanet") << "Base De Datos" << "DatabasePanetConfig.png";
    QTest::newRow("SchedulerPanet") << "Planificador" << "DatabasePanetConfig.png";
    QTest::newRow("AuthorizationPanet") << "Autorizador" << "DatabasePanetConfig.png";
    QTest::newRow("ConnectorPanet") << "Conector" << "DatabasePanetConfig.png";
    QTest::newRow("UpdatePanet") << "Actualizaciones" << "UpdatePanetConfig.png";
}

// What the panel files, places and labels each page by, and the images its plug-in must carry.
void tst_Panets::identity()
{
    QFETCH(QString, label);
    QFETCH(QString, configIcon);
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    TestMainWindow window;
    Panet panet = setUpPanet(name, &window);
    QVERIFY(panet);
    QCOMPARE(QStringList({panet->name(), panet->label(), panet->areaName(), panet->areaLabel()}),
             QStringList({name, label, "Core", "Principal"}));
    QVERIFY(showsImage(panet->icon(), name + QStringLiteral(".png")));
    auto* config = panet->findChild<QToolButton*>(QStringLiteral("tbtConfig"));
    QVERIFY(config);
    QVERIFY(showsImage(config->icon(), configIcon));
}

void tst_Panets::logColours_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QColor>("colour"); // invalid: the view's own colour
    QTest::newRow("ErrorMessage") << int(KT::ErrorMessage) << QColor(143, 62, 81);
    QTest::newRow("BugMessage") << int(KT::BugMessage) << QColor(104, 72, 101);
    QTest::newRow("WarningMessage") << int(KT::WarningMessage) << QColor(169, 145, 13);
    QTest::newRow("InformationMessage") << int(KT::InformationMessage) << QColor(50, 55, 95);
    QTest::newRow("SuccessMessage") << int(KT::SuccessMessage) << QColor(114, 152, 108);
    QTest::newRow("ClientWarningMessage") << int(KT::ClientWarningMessage) << QColor();
    QTest::newRow("no type") << 10 << QColor();
}

void tst_Panets::logColours()
{
    QFETCH(int, status);
    QFETCH(QColor, colour);
    TestMainWindow window;
    Panet panet = setUpPanet(QStringLiteral("LogPanet"), &window);
    QVERIFY(panet);
    QAbstractItemModel* log = panet->findChild<QTableView*>(QStringLiteral("tvwLog"))->model();
    emit window.eventMessage(QStringLiteral("Tabla creada"), status, QStringLiteral("KTDatabaseController::createTables()"));
    QCOMPARE(log->rowCount(), 1);
    for (int column = 0; column < 4; ++column) {
        const QVariant foreground = log->index(0, column).data(Qt::ForegroundRole);
        QCOMPARE(foreground.isValid() ? foreground.value<QBrush>().color() : QColor(), colour);
    }
}

void tst_Panets::logRows()
{
    TestMainWindow window;
    Panet panet = setUpPanet(QStringLiteral("LogPanet"), &window);
    QVERIFY(panet);
    auto* view = panet->findChild<QTableView*>(QStringLiteral("tvwLog"));
    QAbstractItemModel* log = view->model();
    QCOMPARE(view->columnWidth(2), 190);
    QCOMPARE(log->rowCount(), 0);

    // Two messages of the same second keep their order of arrival.
    const QDateTime before = QDateTime::currentDateTime();
    emit window.eventMessage(QStringLiteral("primero"), KT::InformationMessage, QStringLiteral("A::uno()"));
    emit window.eventMessage(QStringLiteral("segundo"), KT::InformationMessage, QStringLiteral("B::dos()"));
    QCOMPARE(log->rowCount(), 2);
    QCOMPARE(log->index(0, 3).data().toString() + log->index(0, 2).data().toString(), QStringLiteral("primeroA::uno()"));
    QCOMPARE(log->index(1, 3).data().toString() + log->index(1, 2).data().toString(), QStringLiteral("segundoB::dos()"));
    const QDateTime stamped = QDateTime::fromString(log->index(1, 0).data().toString() + log->index(1, 1).data().toString(),
                                                    QStringLiteral("yyyy-MM-ddhh:mm:ss"));
    QVERIFY(stamped.isValid() && qAbs(stamped.secsTo(before)) <= 2);

    // The newest row is brought into sight.
    panet->resize(500, 200);
    panet->show();
    QVERIFY(QTest::qWaitForWindowExposed(panet.get()));
    for (int row = 0; row < 100; ++row)
        emit window.eventMessage(QStringLiteral("fila %1").arg(row), KT::SuccessMessage, QStringLiteral("C::tres()"));
    QCoreApplication::processEvents();
    QScrollBar* scroll = view->verticalScrollBar();
    QVERIFY(scroll->maximum() > 0);
    QCOMPARE(scroll->value(), scroll->maximum());

    // The connections' events come in batches, with the time each happened;
    // past the page's limit the oldest rows go (the log file keeps them).
    const QDateTime then(QDate(2026, 1, 2), QTime(3, 4, 5));
    const int limit = 20000;
    QList<KTEvent> batch;
    for (int row = 0; row < limit; ++row)
        batch.append({QStringLiteral("lote %1").arg(row), KT::InformationMessage, QStringLiteral("D::cuatro()"),
                      then.toMSecsSinceEpoch()});
    emit window.eventsLogged(batch);
    emit window.eventsLogged(batch.mid(0, limit / 5));
    QCOMPARE(log->rowCount(), limit);
    QCOMPARE(log->index(0, 3).data().toString(), QStringLiteral("lote %1").arg(limit / 5));
    QCOMPARE(log->index(limit - 1, 3).data().toString(), QStringLiteral("lote %1").arg(limit / 5 - 1));
    QCOMPARE(log->index(limit - 1, 0).data().toString() + log->index(limit - 1, 1).data().toString(),
             QStringLiteral("2026-01-0203:04:05"));
    QCOMPARE(scroll->value(), scroll->maximum());
}

void tst_Panets::modelPage_data()
{
    QTest::addColumn<QString>("view");
    QTest::addColumn<int>("own"); // which of the three signals the page follows
    QTest::addColumn<QList<int>>("widths");
    QTest::newRow("SchedulerPanet") << "tvwScheduler" << 0
                                    << QList<int>{140, 80, 80, 90, 55, 55, 60, 60, 55, 55, 55, 80, 20, 60};
    QTest::newRow("AuthorizationPanet") << "tvwAuthorization" << 1 << QList<int>{160, 150, 100, 110, 110, 110};
    QTest::newRow("ConnectorPanet") << "tvwConnector" << 2 << QList<int>{100, 100, 130, 200};
}

// Each page follows its own signal only, shows the model with its widths and
// keeps what it shows when a signal carries no model.
void tst_Panets::modelPage()
{
    QFETCH(QString, view);
    QFETCH(int, own);
    QFETCH(QList<int>, widths);
    TestMainWindow window;
    Panet panet = setUpPanet(QString::fromLatin1(QTest::currentDataTag()), &window);
    QVERIFY(panet);
    auto* tree = panet->findChild<QTreeView*>(view);
    QVERIFY(tree);
    const auto emitModel = [&window](int which, QStandardItemModel* model) {
        const decltype(&KTMainWindow::schedulerModelCreated) modelSignals[] = {
            &KTMainWindow::schedulerModelCreated, &KTMainWindow::authorizationModelCreated,
            &KTMainWindow::connectorModelCreated};
        (window.*modelSignals[which])(model);
    };
    // One column more than the widths, so that the stretched last section is not one of them.
    auto* model = new QStandardItemModel(2, widths.size() + 1, &window);

    emitModel(own, nullptr);
    emitModel((own + 1) % 3, model);
    emitModel((own + 2) % 3, model);
    QVERIFY(!tree->model());

    emitModel(own, model);
    emitModel(own, nullptr);
    QCOMPARE(tree->model(), model);
    for (int column = 0; column < widths.size(); ++column)
        QCOMPARE(tree->columnWidth(column), widths.at(column));
}

// The authorization page shows, below the authorizations, the component
// bindings that travel as a child of their model.
void tst_Panets::authorizationPageShowsBindings()
{
    TestMainWindow window;
    Panet panet = setUpPanet(QStringLiteral("AuthorizationPanet"), &window);
    QVERIFY(panet);
    auto* bindings = panet->findChild<QTreeView*>(QStringLiteral("tvwComponentTables"));
    QVERIFY(bindings);
    auto* model = new QStandardItemModel(1, 6, &window);
    auto* tables = new QStandardItemModel(3, 3, model);
    tables->setObjectName(QStringLiteral("srvComponentTable"));
    emit window.authorizationModelCreated(model);
    QCOMPARE(bindings->model(), tables);
    emit window.authorizationModelCreated(nullptr);
    QCOMPARE(bindings->model(), tables);
}

void tst_Panets::databaseUnreachable()
{
    TestMainWindow window;
    Panet panet = setUpPanet(QStringLiteral("DatabasePanet"), &window);
    QVERIFY(panet);
    auto* update = panet->findChild<QToolButton*>(QStringLiteral("tbtDbUpdate"));
    auto* status = panet->findChild<QPushButton*>(QStringLiteral("pbtStatus"));
    QVERIFY(update && status);
    QVERIFY(QImage(":/Resources/Images/PanetConnectionOk.png") != QImage(":/Resources/Images/PanetConnectionInvalid.png"));

    // The definitions are asked for and refused, so no statistics are loaded;
    // without a model the view stays empty but the database is still named.
    QCOMPARE(window.calls, QStringList({"establishConnection", "loadTablesFromFiles", "tableRecordDataModel"}));
    QVERIFY(!update->isEnabled());
    QVERIFY(showsImage(status->icon(), "PanetConnectionInvalid.png"));
    QVERIFY(!panet->findChild<QTableView*>(QStringLiteral("tvwDatabase"))->model());
    QCOMPARE(panet->findChild<QGroupBox*>(QStringLiteral("gbxDbInfo"))->title(), QStringLiteral("ombrix - QMYSQL"));

    // The status button retries, both ways.
    window.calls.clear();
    window.connectionUp = true;
    status->click();
    QCOMPARE(window.calls, QStringList({"establishConnection"}));
    QVERIFY(update->isEnabled());
    QVERIFY(showsImage(status->icon(), "PanetConnectionOk.png"));
    window.connectionUp = false;
    status->click();
    QVERIFY(!update->isEnabled());
    QVERIFY(showsImage(status->icon(), "PanetConnectionInvalid.png"));

    // A database that comes up by itself shows without a click, with its statistics.
    window.calls.clear();
    window.recordData = new QStandardItemModel(3, 18, &window);
    emit window.databaseStatusChanged(true);
    QVERIFY(update->isEnabled());
    QVERIFY(showsImage(status->icon(), "PanetConnectionOk.png"));
    QCOMPARE(panet->findChild<QTableView*>(QStringLiteral("tvwDatabase"))->model(), window.recordData);
    QVERIFY(!window.calls.contains("establishConnection"));
    emit window.databaseStatusChanged(false);
    QVERIFY(showsImage(status->icon(), "PanetConnectionInvalid.png"));
}

void tst_Panets::databaseReachable()
{
    TestMainWindow window;
    window.connectionUp = window.definitionsLoad = true;
    window.recordData = new QStandardItemModel(3, 18, &window);
    Panet panet = setUpPanet(QStringLiteral("DatabasePanet"), &window);
    QVERIFY(panet);
    QCOMPARE(window.calls,
             QStringList({"establishConnection", "loadTablesFromFiles", "loadTableRecordData", "tableRecordDataModel"}));
    auto* update = panet->findChild<QToolButton*>(QStringLiteral("tbtDbUpdate"));
    QVERIFY(update->isEnabled());
    QVERIFY(showsImage(update->icon(), "DatabasePanetUpdateDb.png"));
    QCOMPARE(panet->findChild<QGroupBox*>(QStringLiteral("gbxDbInfo"))->title(), QStringLiteral("ombrix - QMYSQL"));

    auto* view = panet->findChild<QTableView*>(QStringLiteral("tvwDatabase"));
    QCOMPARE(view->model(), window.recordData);
    QVERIFY(view->isColumnHidden(0) && !view->isColumnHidden(1));
    QHeaderView* header = view->horizontalHeader();
    QCOMPARE(QList<int>({header->sectionResizeMode(1), header->sectionResizeMode(2), header->sectionResizeMode(3)}),
             QList<int>({QHeaderView::ResizeToContents, QHeaderView::Stretch, QHeaderView::ResizeToContents}));

    // A second setup() must neither reload nor connect the update twice.
    window.calls.clear();
    panet->setup();
    update->click();
    QCOMPARE(window.calls, QStringList({"updateDatabase"}));
}

// No main window, or one gone before its page: the page builds and its buttons harm nothing.
void tst_Panets::databaseWithoutMainWindow()
{
    Panet orphan = setUpPanet(QStringLiteral("DatabasePanet"), nullptr);
    QVERIFY(orphan);
    orphan->findChild<QPushButton*>(QStringLiteral("pbtStatus"))->click();
    QVERIFY(!orphan->findChild<QToolButton*>(QStringLiteral("tbtDbUpdate"))->isEnabled());
    orphan.reset();

    auto window = std::make_unique<TestMainWindow>();
    window->connectionUp = true;
    Panet panet = setUpPanet(QStringLiteral("DatabasePanet"), window.get());
    QVERIFY(panet);
    window.reset();
    panet->findChild<QPushButton*>(QStringLiteral("pbtStatus"))->click();
    QVERIFY(!panet->findChild<QToolButton*>(QStringLiteral("tbtDbUpdate"))->isEnabled());
}

QTEST_MAIN(tst_Panets)
#include "tst_panets.moc"
