#ifndef KTINSTALLATIONPATHS_H
#define KTINSTALLATIONPATHS_H

#include <QString>

// Where an installation keeps what its programs write: the settings, the
// state (the download area and the panel's layout) and the event log.
//
// Each place comes from, in this order: its environment variable
// (OMBRIX_CONFIG_DIR, OMBRIX_STATE_DIR, OMBRIX_LOG_DIR); the file
// OmbrixPaths.cfg beside the programs, which the Debian package ships
// ([Places] Settings, State, Logs); otherwise the working directory, the
// application folder of a development tree, with the log in its "logs"
// folder. The programs' own files (plug-ins, table definitions) stay in the
// application folder in every case.
class KTInstallationPaths
{
public:
    static const char* const placesFileName;

    static QString settingsDirectory();
    static QString stateDirectory();
    static QString logDirectory();

    static QString serverSettingsFile();
    static QString systemObjectsFile();
    static QString panelLayoutFile();
    static QString downloadsDirectory();

private:
    static QString place(const char* variable, const QString& key, const QString& fallback);
};

#endif
