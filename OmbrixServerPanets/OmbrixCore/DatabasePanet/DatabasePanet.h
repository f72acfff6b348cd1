#ifndef DATABASEPANET_H
#define DATABASEPANET_H

#include <KTCorePanet.h>

class QGroupBox;
class QPushButton;
class QTableView;
class QToolButton;

// The database page. Setting it up opens the panel's database connection and
// loads the table definitions and their statistics; it then shows the table
// record data model and offers the database update while the connection is up.
class DatabasePanet : public KTCorePanet
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KTPanetBaseInterface_iid)
    Q_INTERFACES(KTPanetBaseInterface)
public:
    explicit DatabasePanet(QWidget* parent = nullptr);

    void setup() override;

public Q_SLOTS:
    void establishConnection();

private:
    void showConnection(bool connected);
    void showRecordData(KTMainWindow* window);

    QToolButton* _tbtDbUpdate = nullptr;
    QPushButton* _pbtStatus = nullptr;
    QGroupBox* _gbxDbInfo = nullptr;
    QTableView* _tvwDatabase = nullptr;
};

#endif
