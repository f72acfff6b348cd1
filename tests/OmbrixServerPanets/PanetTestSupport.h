#ifndef PANETTESTSUPPORT_H
#define PANETTESTSUPPORT_H

#include <KTMainWindow.h>
#include <KTPanetBase.h>
#include <KTPluginLoader.h>

#include <QIcon>
#include <QImage>
#include <QStandardItemModel>
#include <QStringList>

#include <memory>

// The panel as its pages see it: it writes down what they ask of it and
// answers what each test decides.
class TestMainWindow : public KTMainWindow
{
public:
    bool connectionUp = false;
    bool definitionsLoad = false;
    QStandardItemModel* recordData = nullptr;
    QStringList calls;

    bool establishConnection() override { return record("establishConnection", connectionUp); }
    bool loadTablesFromFiles() override { return record("loadTablesFromFiles", definitionsLoad); }
    void loadTableRecordData() override { record("loadTableRecordData"); }
    void updateDatabase() override { record("updateDatabase"); }
    void checkUpdates() override { record("checkUpdates"); }
    void downloadUpdates() override { record("downloadUpdates"); }
    QString dbName() override { return QStringLiteral("ombrix"); }
    QString dbType() override { return QStringLiteral("QMYSQL"); }
    QStandardItemModel* tableRecordDataModel() override { return record("tableRecordDataModel", recordData); }

private:
    template <class T = bool>
    T record(const char* call, T answer = T())
    {
        calls << QString::fromLatin1(call);
        return answer;
    }
};

using Panet = std::unique_ptr<KTPanetBase>;

// The plug-in's root object, handed the emitter and set up as the panel does.
// Deleting it makes the next load build a fresh page.
inline Panet setUpPanet(const QString& name, QObject* emitter)
{
    QString error;
    Panet panet(KTPluginLoader::load<KTPanetBase>(
        qEnvironmentVariable("OMBRIX_APP_DIR") + QStringLiteral("/OmbrixServerPanets/lib") + name + QStringLiteral(".so"),
        &error));
    if (!panet)
        qWarning("%s", qPrintable(error));
    else {
        panet->setEmitterObject(emitter);
        panet->setup();
    }
    return panet;
}

// Pixmaps keep premultiplied pixels, so both sides are compared in that form.
inline bool showsImage(const QIcon& icon, const QString& image)
{
    const QImage expected =
        QImage(QStringLiteral(":/Resources/Images/") + image).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return !expected.isNull()
        && icon.pixmap(expected.size()).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) == expected;
}

#endif
