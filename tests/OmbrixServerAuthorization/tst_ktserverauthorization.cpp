#include "KTTestDatabase.h"
#include "KTTestEvents.h"
#include "KTTestServer.h"

#include <KTDatabaseController.h>
#include <KTServerAuthorization.h>

#include <QPointer>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QtTest>

#include <memory>

namespace {

const QString dbName = QStringLiteral("ombrix_test_authorization");
constexpr int KeyRole = Qt::UserRole + 1;

} // namespace

class tst_KTServerAuthorization : public QObject
{
    Q_OBJECT

    std::unique_ptr<KTDatabaseController> _controller;

    // Rows that point at records missing from the fresh installation need the checks off.
    bool insert(const QString& values)
    {
        return _controller->customQuery(
            "SET FOREIGN_KEY_CHECKS = 0; INSERT INTO accAuthorization (pkyAuthorization, codComponent, "
            "codComponentAction, codRequestingUser, fldDate, fldReason) VALUES " + values
            + "; SET FOREIGN_KEY_CHECKS = 1;").isActive();
    }

    static int rowOf(QStandardItemModel* model, const QString& key)
    {
        const QList<QStandardItem*> found = model->findItems(key, Qt::MatchExactly, 0);
        return found.size() == 1 ? found.first()->row() : -1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        KT_REQUIRE_DATABASE();
        _controller = std::make_unique<KTDatabaseController>();
        QVERIFY(KTTestServer::prepareDatabase(_controller.get(), dbName));
        QVERIFY(insert(QStringLiteral("(1, 101004, 6, 3, '2026-03-02', %1), (2, 999999, 4, 2, '2026-03-05', NULL)")
                           .arg(_controller->quoted("Ajuste de 'inventario' \\ bodega"))));
    }

    void cleanupTestCase()
    {
        if (_controller)
            _controller->closeConnection("main");
    }

    void modelShowsPendingAuthorizationsWithTheirLabels()
    {
        KTServerAuthorization authorization;
        QVERIFY(!authorization.model());
        authorization.updateData(_controller.get());
        QStandardItemModel* model = authorization.model();
        QVERIFY(model);
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(model->columnCount(), 6);
        QStringList headers;
        for (int column = 0; column < 6; ++column)
            headers << model->horizontalHeaderItem(column)->text();
        QCOMPARE(headers, QStringList({"Código", "Componente", "Acción", "Solicitante", "Fecha", "Motivo"}));

        const int first = rowOf(model, "1");
        QCOMPARE(model->item(first, 1)->text(), QStringLiteral("Autorizaciones"));
        QCOMPARE(model->item(first, 1)->data(KeyRole).toString(), QStringLiteral("101004"));
        QCOMPARE(model->item(first, 2)->text(), QStringLiteral("Editar registro"));
        QCOMPARE(model->item(first, 3)->text(), QStringLiteral("cmendez"));
        QCOMPARE(model->item(first, 4)->text(), QStringLiteral("2026-03-02"));
        QCOMPARE(model->item(first, 5)->text(), QStringLiteral("Ajuste de 'inventario' \\ bodega"));

        // A component that no longer exists keeps its key and shows no label; a null reason reads empty.
        const int second = rowOf(model, "2");
        QCOMPARE(model->item(second, 1)->text(), QString());
        QCOMPARE(model->item(second, 1)->data(KeyRole).toString(), QStringLiteral("999999"));
        QCOMPARE(model->item(second, 3)->text(), QStringLiteral("admin"));
        QCOMPARE(model->item(second, 5)->text(), QString());

        // Beside them, the tables each component is bound to, the component by its label.
        QStandardItemModel* bindings = authorization.bindingModel();
        QVERIFY(bindings);
        QCOMPARE(bindings->parent(), model);
        QCOMPARE(bindings->rowCount(), _controller->customQuery("SELECT * FROM srvComponentTable").size());
        QStringList customer;
        for (int row = 0; row < bindings->rowCount(); ++row)
            if (bindings->item(row, 1)->text() == QLatin1String("Clientes"))
                customer << bindings->item(row, 2)->text();
        customer.sort();
        QCOMPARE(customer, QStringList({"salCustomer", "salPriceList"}));

        QStandardItem* key = model->item(first, 0);
        QCOMPARE(key->foreground().color(), QColor(114, 152, 108));
        QVERIFY(key->font().bold() && key->font().italic());
        QVERIFY(model->item(first, 2)->font().italic() && !model->item(first, 2)->font().bold());
    }

    void everyUpdateReplacesTheModel()
    {
        auto authorization = std::make_unique<KTServerAuthorization>();
        authorization->updateData(_controller.get());
        QPointer<QStandardItemModel> old = authorization->model();
        QVERIFY(insert(QStringLiteral("(3, 101001, 2, 1, '2026-03-09', 'Alta de usuario')")));
        authorization->updateData(_controller.get());
        QVERIFY(!old);
        QCOMPARE(authorization->model()->rowCount(), 3);
        QCOMPARE(authorization->model()->item(rowOf(authorization->model(), "3"), 5)->text(),
                 QStringLiteral("Alta de usuario"));

        QPointer<QStandardItemModel> last = authorization->model();
        authorization.reset();
        QVERIFY(!last);
    }

    void unusableControllersLeaveNoStaleRows()
    {
        KTServerAuthorization authorization;
        QSignalSpy events(&authorization, &KTServerAuthorization::eventMessage);
        authorization.updateData(nullptr);
        QVERIFY(!authorization.model());
        authorization.updateData(_controller.get());
        QStandardItemModel* model = authorization.model();
        authorization.updateData(nullptr);
        QCOMPARE(authorization.model(), model);
        QCOMPARE(events.size(), 2);
        QCOMPARE(events.first().at(1).toInt(), 1);
        QCOMPARE(events.first().at(2).toString(), QStringLiteral("KTServerAuthorization::updateData()"));

        // Closed after it received the definitions: the query fails but the columns are known.
        KTDatabaseController closed;
        QVERIFY(closed.establishConnection(KTTestDatabase::controllerParameters("closed", dbName)));
        closed.setDbDefinitionMap(_controller->dbDefinitionMap());
        closed.closeConnection("closed");
        QPointer<QStandardItemModel> old = model;
        authorization.updateData(&closed);
        QVERIFY(!old);
        QCOMPARE(authorization.model()->rowCount(), 0);
        QCOMPARE(authorization.model()->columnCount(), 6);
        QCOMPARE(authorization.model()->horizontalHeaderItem(5)->text(), QStringLiteral("Motivo"));

        authorization.updateData(_controller.get());
        QCOMPARE(authorization.model()->rowCount(), 3);
    }
};

QTEST_MAIN(tst_KTServerAuthorization)
#include "tst_ktserverauthorization.moc"
