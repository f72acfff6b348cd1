#include "KTTestDatabase.h"
#include "KTTestDefinitions.h"

#include <KTDatabaseController.h>
#include <KTMainWindow.h>

#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString dbName = QStringLiteral("ombrix_test_record_data");
constexpr int TableColumn = 1;
constexpr int InsertsColumn = 4 + 11;
constexpr int DeletesColumn = 4 + 12;

// Keeps what the controller publishes as the main statistics.
class StatisticsWindow : public KTMainWindow
{
public:
    QMap<QString, QList<quint64> > stats;
    void setTableMainStats(const QString& tableName, QList<quint64> values) override { stats[tableName] = values; }
};

QList<int> delta(int index, int value)
{
    QList<int> modifiers(14, 0);
    modifiers[index] = value;
    return modifiers;
}

} // namespace

class tst_TableRecordData : public QObject
{
    Q_OBJECT

    std::unique_ptr<KTDatabaseController> _controller;
    std::unique_ptr<StatisticsWindow> _window;
    QTemporaryDir _dir;

    QStandardItemModel* model() const { return _controller->tableRecordDataModel(); }

    int rowOf(const QString& table) const
    {
        for (int row = 0; row < model()->rowCount(); ++row)
            if (model()->item(row, TableColumn)->text() == table)
                return row;
        return -1;
    }

    QString cell(int row, int column) const { return model()->item(row, column)->text(); }

    QString stored(const QString& table, const QString& field)
    {
        QSqlQuery query = _controller->customQuery(
            QStringLiteral("SELECT %1 FROM dbaTableRecordData WHERE fldTableName = '%2'").arg(field, table));
        return query.next() ? query.value(0).toString() : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        KT_REQUIRE_DATABASE();
        QVERIFY(KTTestDatabase::dropDatabase(dbName));
        _window = std::make_unique<StatisticsWindow>();
        _controller = std::make_unique<KTDatabaseController>();
        QVERIFY(_controller->establishConnection(KTTestDatabase::controllerParameters("records", dbName)));
        KTTestDefinitions::writeSchema(_dir.filePath("Tables"), _dir.filePath("Data"));
        QVERIFY(_controller->loadTablesFromFiles(_dir.filePath("Tables")));
        _controller->createTables(false);
        _controller->createDataFromFiles(_dir.filePath("Data"), _dir.filePath("Blobs"), false);
        QVERIFY(_controller->allDataLoaded());
    }

    void init()
    {
        _controller->fillSystemTables();
        _controller->loadTableRecordData();
        QVERIFY(model());
    }

    void cleanupTestCase()
    {
        _controller->closeConnection("records");
    }

    void modelHoldsOneRowPerTableAndATotalsRow()
    {
        const int tables = _controller->dbDefinitionMap().size();
        QCOMPARE(model()->rowCount(), tables + 1);
        QCOMPARE(model()->columnCount(), 18);
        QCOMPARE(model()->horizontalHeaderItem(1)->text(), QStringLiteral("Alias fldTableName"));
        QCOMPARE(model()->horizontalHeaderItem(17)->toolTip(), QStringLiteral("Ayuda fldEdits"));
        const int last = model()->rowCount() - 1;
        QCOMPARE(cell(last, 2), QStringLiteral("TOTAL REGISTROS :"));
        int inserts = 0;
        for (int row = 0; row < last; ++row)
            inserts += cell(row, InsertsColumn).toInt();
        QCOMPARE(cell(last, InsertsColumn).toInt(), inserts);

        const int products = rowOf("invProduct");
        QCOMPARE(model()->item(products, TableColumn)->toolTip(), QStringLiteral("Tabla Productos"));
        QCOMPARE(model()->item(products, TableColumn)->foreground().color(), QColor(104, 72, 101));
        QVERIFY(model()->item(products, 14)->font().bold());
        QCOMPARE(model()->item(last, 2)->foreground().color(), QColor(143, 62, 81));

        QCOMPARE(_window->stats.value("invProduct"), QList<quint64>({3, 3, 0, 0, 2, 1, 0}));

        _controller->loadTableRecordData();
        QCOMPARE(model()->rowCount(), tables + 1);
        QCOMPARE(cell(model()->rowCount() - 1, 2), QStringLiteral("TOTAL REGISTROS :"));
        QCOMPARE(model()->findItems("TOTAL REGISTROS :", Qt::MatchExactly, 2).size(), 1);
    }

    void deltasAddUpInTheRowTheTotalsAndTheTable()
    {
        const int row = rowOf("invCategory");
        const int totals = model()->rowCount() - 1;
        const int before = cell(row, InsertsColumn).toInt();
        const int totalBefore = cell(totals, InsertsColumn).toInt();
        _controller->updateTableRecordDataModel("invCategory", delta(11, 2));
        _controller->updateTableRecordDataModel("invCategory", delta(11, 3));
        QCOMPARE(cell(row, InsertsColumn).toInt(), before + 5);
        QCOMPARE(cell(totals, InsertsColumn).toInt(), totalBefore + 5);
        QCOMPARE(stored("invCategory", "fldInserts").toInt(), before + 5);
        QCOMPARE(_window->stats.value("invCategory").at(1), quint64(before + 5));
    }

    void deletesMayGoNegative()
    {
        _controller->updateTableRecordDataModel("accGroup", delta(12, -1));
        QCOMPARE(cell(rowOf("accGroup"), DeletesColumn), QStringLiteral("-1"));
        QCOMPARE(stored("accGroup", "fldDeletes"), QStringLiteral("-1"));
    }

    void unknownTablesAndShortListsChangeNothing()
    {
        QSignalSpy events(_controller.get(), &KTDatabaseController::eventMessage);
        const QString totals = cell(model()->rowCount() - 1, InsertsColumn);
        _controller->updateTableRecordDataModel("invNothing", delta(11, 1));
        _controller->updateTableRecordDataModel("invCategory", {1, 2, 3});
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first(), QVariantList({"No se encontró la tabla : 'invNothing'", 1,
                                               "KTDatabaseController::insertRecords()"}));
        QCOMPARE(cell(model()->rowCount() - 1, InsertsColumn), totals);
    }

    void insertsOfTheMainControllerMoveItsOwnModel()
    {
        QSignalSpy requested(_controller.get(), &KTDatabaseController::updateTableRecordDataModelRequested);
        const int row = rowOf("invCategory");
        const int before = cell(row, InsertsColumn).toInt();
        QVERIFY(_controller->insertRecords("invCategory", {{"NULL", "'Lácteos'", "1", "0", "1", "2", "0", "1"}},
                                           delta(11, 1), {}).isActive());
        QCOMPARE(cell(row, InsertsColumn).toInt(), before + 1);
        QCOMPARE(requested.size(), 0);
    }

    void customTableResolvesCodFieldsAndKeepsTheKey()
    {
        std::unique_ptr<QStandardItemModel> products(
            _controller->loadCustomTable("invProduct", {}, true, true));
        QVERIFY(products);
        QCOMPARE(products->columnCount(), 4);
        QCOMPARE(products->horizontalHeaderItem(2)->text(), QStringLiteral("Alias codCategory"));
        QStandardItem* category = products->item(0, 2);
        QCOMPARE(category->text(), QStringLiteral("Bebidas"));
        QCOMPARE(category->data(Qt::UserRole + 1).toString(), QStringLiteral("1"));
        QCOMPARE(products->item(0, 3)->text(), QStringLiteral("12.50"));
        QCOMPARE(products->item(0, 3)->textAlignment(), Qt::AlignRight | Qt::AlignVCenter);
        QVERIFY(products->item(0, 1)->font().bold());

        std::unique_ptr<QStandardItemModel> raw(
            _controller->loadCustomTable("invProduct", {"pkyProduct", "codCategory"}, false, false));
        QCOMPARE(raw->columnCount(), 2);
        QCOMPARE(raw->item(0, 1)->text(), QStringLiteral("1"));

        // A cod field whose key leads nowhere keeps every later column in place.
        KTDbTable* identifiers = _controller->dbDefinitionMap().value("accUserIdentifier");
        std::unique_ptr<QStandardItemModel> keys(
            _controller->loadCustomTable("accUserIdentifier", {"codUser", "codType", "fldKey"}, true, false));
        QVERIFY(identifiers && keys);
        QCOMPARE(keys->item(0, 0)->text(), QStringLiteral("2")); // the users' label is their key here
        QCOMPARE(keys->item(0, 1)->text(), QStringLiteral("1"));
        QCOMPARE(keys->item(0, 2)->text(), QStringLiteral("clave"));

        QSignalSpy events(_controller.get(), &KTDatabaseController::eventMessage);
        QVERIFY(!_controller->loadCustomTable("invNothing", {}, true, false));
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first().at(1).toInt(), 2);
    }

    // Two servers on one database each keep their own model: the stored row
    // holds both's changes, and a change heard from the other moves only
    // the model (the other has stored it already). Last: the second
    // controller's definitions reach the shared dialect map.
    void twoServersAddUpInTheTable()
    {
        KTDatabaseController other;
        QVERIFY(other.establishConnection(KTTestDatabase::controllerParameters("records_other", dbName)));
        QVERIFY(other.loadTablesFromFiles(_dir.filePath("Tables")));
        other.loadTableRecordData();
        const int before = stored("invCategory", "fldInserts").toInt();
        _controller->updateTableRecordDataModel("invCategory", delta(11, 2));
        other.updateTableRecordDataModel("invCategory", delta(11, 3));
        QCOMPARE(stored("invCategory", "fldInserts").toInt(), before + 5);
        _controller->applyTableRecordDelta("invCategory", delta(11, 3));
        QCOMPARE(cell(rowOf("invCategory"), InsertsColumn).toInt(), before + 5);
        QCOMPARE(stored("invCategory", "fldInserts").toInt(), before + 5);
        QVERIFY(_controller->refreshTableRecordData());
        QCOMPARE(cell(rowOf("invCategory"), InsertsColumn).toInt(), before + 5);
        other.closeConnection("records_other");
    }
};

QTEST_MAIN(tst_TableRecordData)
#include "tst_tablerecorddata.moc"
