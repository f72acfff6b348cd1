#ifndef KTPREVIOUSRELEASE_H
#define KTPREVIOUSRELEASE_H

#include <QString>

// The server files a promotion replaces, kept in Downloads/Previous/<release>/
// (release: the one that replaced them) under their paths relative to the
// application directory, so that the release can be taken back when its SQL
// fails at the panel's start. Only the last promotion's files are kept.
class KTPreviousRelease
{
public:
    KTPreviousRelease(const QString& applicationDirectory, const QString& downloadsDirectory);

    // Before the release's first file is replaced. A promotion of the same
    // release that failed half way and is repeated keeps what it kept then:
    // those files are the old ones, the ones in place may be new already.
    bool begin(const QString& release);
    // Before relativeFile is replaced; a file the release adds is noted, so
    // that taking the release back removes it.
    bool keep(const QString& relativeFile);
    // Puts the kept files back, removes the files the release added and
    // drops the release's pending SQL lines; false, with error(), on a failure.
    bool restore();
    QString error() const { return _error; }

private:
    bool failed(const QString& error);
    QString keptFolder() const;
    QString indexPath() const { return _folder + QStringLiteral("/Previous.ini"); }

    QString _applicationDirectory;
    QString _downloadsDirectory;
    QString _folder;
    QString _error;
};

#endif
