#ifndef KTMESSAGEBOXCATCHER_H
#define KTMESSAGEBOXCATCHER_H

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

// Answers the modal message boxes the code under test opens, keeping their
// titles and texts, so that a test does not wait on a person.
class KTMessageBoxCatcher : public QObject
{
public:
    QStringList titles;
    QStringList texts;

    KTMessageBoxCatcher()
    {
        connect(&_timer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                titles << box->windowTitle();
                texts << box->text();
                box->accept();
            }
        });
        _timer.start(10);
    }

private:
    QTimer _timer;
};

#endif
