// One desktop program per user: a second start asks the running one, over a
// per-user local socket, to bring its window forward, and ends. The socket
// lives in the user's runtime folder, so only that user can reach it.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace halvorin {

class SingleInstance : public QObject {
    Q_OBJECT

  public:
    explicit SingleInstance(QString name = DefaultName(), QObject* parent = nullptr);

    // $XDG_RUNTIME_DIR/halvorin-instance.
    static QString DefaultName();

    // True when a running instance answered and was asked to come forward;
    // false at once when none listens (a socket left by a crash included).
    bool HandOverToRunning();
    // Answers later starts; false, with the reason, when it cannot listen.
    bool Listen(QString* error = nullptr);

  signals:
    void RaiseRequested();

  private:
    void Answer();

    QString name_;
    QLocalServer server_;
};

}  // namespace halvorin
