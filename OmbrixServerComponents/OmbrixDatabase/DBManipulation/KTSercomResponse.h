#ifndef KTSERCOMRESPONSE_H
#define KTSERCOMRESPONSE_H

#include <QString>
#include <QStringList>
#include <QXmlStreamWriter>

// The answer document of a server component: the "ActionRequest" root naming
// the client object that asked, and one outcome element with its children.
class KTSercomResponse
{
public:
    KTSercomResponse(const QString& objectType, const QString& objectName, const QString& outcome,
                     const QString& objectNameEmbedded = QString());
    KTSercomResponse(const KTSercomResponse&) = delete;
    KTSercomResponse& operator=(const KTSercomResponse&) = delete;

    KTSercomResponse& text(const QString& tag, const QString& value);
    // One "Row" per entry, each followed by its "RowDisp" when display is given.
    KTSercomResponse& rows(const QStringList& values, const QStringList& display = QStringList());
    // Closes the document and returns it.
    QString toString();

private:
    QString _document;
    QXmlStreamWriter _writer;
};

#endif
