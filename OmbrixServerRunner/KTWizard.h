#ifndef KTWIZARD_H
#define KTWIZARD_H

#include <QWizard>

class CompanyPage;
class DatabasePage;
class DatabaseSetupPage;
class EndPage;
class IntroPage;
class ServerPage;
class UserPage;

// The first-start wizard: collects the company, database, server and
// administrator settings and writes OmbrixServer.cfg and
// OmbrixSystemObjects.cfg.
class KTWizard : public QWizard
{
    Q_OBJECT
public:
    enum PageId { Intro, Company, Database, DatabaseSetup, Server, User, End };

    explicit KTWizard(QWidget* parent = nullptr);

    // Where the settings files go (the working directory by default) and the
    // installation whose objects the system-objects file lists (the
    // program's folder by default).
    void setSettingsDirectory(const QString& directory) { _settingsDirectory = directory; }
    void setInstallationDirectory(const QString& directory) { _installationDirectory = directory; }
    QString helpText(int pageId) const;

public Q_SLOTS:
    // Writes both settings files; false, after telling the operator, when one could not be written.
    bool saveSettings();
    void showHelp();
    void accept() override;

private:
    bool writeServerSettings();
    bool writeSystemObjects();

    IntroPage* _introPage;
    CompanyPage* _companyPage;
    DatabasePage* _databasePage;
    DatabaseSetupPage* _databaseSetupPage;
    ServerPage* _serverPage;
    UserPage* _userPage;
    EndPage* _endPage;
    QString _settingsDirectory;
    QString _installationDirectory;
};

#endif
