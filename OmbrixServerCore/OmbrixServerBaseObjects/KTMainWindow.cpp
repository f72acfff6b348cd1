#include "KTMainWindow.h"

KTMainWindow* KTMainWindow::_self = nullptr;

KTMainWindow::KTMainWindow(QWidget* parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags)
{
    _self = this;
}

KTMainWindow::~KTMainWindow()
{
    _self = nullptr;
}

KTMainWindow* KTMainWindow::mainWindowInstance() { return _self; }

bool KTMainWindow::establishConnection() { return false; }
QList<quint64> KTMainWindow::tableMainStats(const QString&) { return {}; }
void KTMainWindow::clearTableMainStats() {}
void KTMainWindow::setTableMainStats(const QString&, QList<quint64>) {}
QStandardItemModel* KTMainWindow::tableRecordDataModel() { return nullptr; }
QString KTMainWindow::companyName() { return {}; }
QString KTMainWindow::companyID() { return {}; }
QString KTMainWindow::dbHost() { return {}; }
QString KTMainWindow::dbName() { return {}; }
QString KTMainWindow::dbPort() { return {}; }
QString KTMainWindow::dbType() { return {}; }
QString KTMainWindow::password() { return {}; }
QString KTMainWindow::ombrixPassword() { return {}; }
QString KTMainWindow::serverPort() { return {}; }
QString KTMainWindow::systemObjects() { return {}; }
QStringList KTMainWindow::systemObjectsList() { return {}; }

bool KTMainWindow::loadTablesFromFiles() { return false; }
void KTMainWindow::checkUpdates() {}
void KTMainWindow::downloadUpdates() {}
void KTMainWindow::loadSettings() {}
void KTMainWindow::loadTableRecordData() {}
void KTMainWindow::prepareInstallation() {}
void KTMainWindow::updateDatabase() {}
void KTMainWindow::saveSettings() {}
