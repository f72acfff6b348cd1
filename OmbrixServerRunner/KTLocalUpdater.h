#ifndef KTLOCALUPDATER_H
#define KTLOCALUPDATER_H

#include <QDialog>

namespace Ui {
class uiLocalUpdater;
}

// The runner's splash dialog. While no server runs it puts a downloaded
// release in place: the client files into the folders the connector serves,
// the server files into the application directory, and the download index
// files in place of the current ones. Its exit type tells what to start next.
class KTLocalUpdater : public QDialog
{
    Q_OBJECT
public:
    enum ExitType { StartNothing = 0, StartPanel = 1, StartUpgradeHelper = 2 };

    explicit KTLocalUpdater(QWidget* parent = nullptr);
    ~KTLocalUpdater() override;

    // Where the installation lies; the program's folder by default.
    void setApplicationDirectory(const QString& directory) { _applicationDirectory = directory; }
    // True when the panel may be started; dirName, the download area, is absolute or relative to the
    // application directory.
    bool checkForUpdates(const QString& dirName);
    // Puts back the server files the last promotion replaced (kept in
    // dirName/Previous) and drops its pending SQL lines; starts nothing.
    bool rollback(const QString& dirName);
    void setExitType(int exitType) { _exitType = exitType; }
    // Without a person to answer a message box (no display, or under a
    // service), failures go to the log output instead.
    void setInteractive(bool interactive) { _interactive = interactive; }
    int exitType() const { return _exitType; }

public Q_SLOTS:
    void executeProcess();

private:
    struct IndexEntry {
        QString fileName;
        int platform;
        QString relativePath;
    };

    bool readIndex(const QString& path, const QString& versionKey, const QString& status, QList<IndexEntry>* entries);
    bool updateClient(const QString& downloads);
    bool updateServer(const QString& downloads, const QString& dirName);
    bool installFile(const QString& source, const QString& folder, const QString& target, const QString& folderName);
    bool keepPendingCommands(const QString& downloads);
    bool fail(const QString& message);
    void centre();

    Ui::uiLocalUpdater* _ui;
    int _exitType = StartPanel;
    bool _interactive = true;
    QString _applicationDirectory;
};

#endif
