#include <KTPanelOptions.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

namespace {

using Size = QPair<int, int>;

struct Form
{
    explicit Form(KTPanelOptions& dialog)
        : rows(dialog.findChild<QSpinBox*>("sbxRows"))
        , columns(dialog.findChild<QSpinBox*>("sbxColumns"))
        , ok(dialog.findChild<QPushButton*>("pbtOk"))
        , cancel(dialog.findChild<QPushButton*>("pbtCancel"))
    {
    }
    Size shown() const { return {rows->value(), columns->value()}; }
    void edit(int r, int c) const { rows->setValue(r); columns->setValue(c); }

    QSpinBox* rows;
    QSpinBox* columns;
    QPushButton* ok;
    QPushButton* cancel;
};

Size accepted(const KTPanelOptions& dialog)
{
    return {dialog.rowCount(), dialog.columnCount()};
}

} // namespace

class tst_KTPanelOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void setSizeKeepsWhatTheBoxesShow()
    {
        KTPanelOptions dialog;
        const Form form(dialog);
        QVERIFY(form.rows && form.columns && form.ok && form.cancel);
        // Qt marks a parentless widget as a window; no other hint may be set.
        QCOMPARE(dialog.windowFlags() & ~Qt::WindowType_Mask, Qt::WindowFlags(Qt::CustomizeWindowHint));
        QVERIFY(dialog.isModal());
        dialog.setSize(3, 2);
        QCOMPARE(accepted(dialog), Size(3, 2));
        QCOMPARE(form.shown(), Size(3, 2));
        dialog.setSize(0, 12);
        QCOMPARE(accepted(dialog), Size(1, 9));
        QCOMPARE(form.shown(), Size(1, 9));
    }

    void cancelForgetsTheEdits()
    {
        KTPanelOptions dialog;
        const Form form(dialog);
        QSignalSpy updated(&dialog, &KTPanelOptions::valuesUpdated);
        dialog.setSize(2, 1);

        dialog.show();
        form.edit(5, 4);
        form.cancel->click();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(accepted(dialog), Size(2, 1));
        QCOMPARE(form.shown(), Size(2, 1));

        // Escape rejects the dialog, which must forget the edits as Cancel does.
        QTimer::singleShot(0, &dialog, [&] { form.edit(6, 6); QTest::keyClick(&dialog, Qt::Key_Escape); });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QCOMPARE(form.shown(), Size(2, 1));
        QCOMPARE(updated.count(), 0);
    }

    void okReportsTheValuesEvenUnchanged()
    {
        KTPanelOptions dialog;
        const Form form(dialog);
        QSignalSpy updated(&dialog, &KTPanelOptions::valuesUpdated);
        dialog.setSize(3, 2);

        dialog.show();
        form.ok->click();
        QVERIFY(!dialog.isVisible());
        QTimer::singleShot(0, &dialog, [&] { form.edit(4, 5); form.ok->click(); });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(accepted(dialog), Size(4, 5));
        QCOMPARE(updated.count(), 2);
        QCOMPARE(updated.at(0), (QList<QVariant>{3, 2}));
        QCOMPARE(updated.at(1), (QList<QVariant>{4, 5}));

        dialog.show(); // a later Cancel goes back to the accepted values
        form.edit(9, 9);
        form.cancel->click();
        QCOMPARE(form.shown(), Size(4, 5));
    }
};

QTEST_MAIN(tst_KTPanelOptions)
#include "tst_ktpaneloptions.moc"
