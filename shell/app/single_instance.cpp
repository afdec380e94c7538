#include "shell/app/single_instance.h"

#include <QLocalSocket>
#include <QStandardPaths>

namespace halvorin {

namespace {

constexpr int kAnswerMs = 2000;
constexpr char kRaise[] = "raise\n";
constexpr char kDone[] = "ok\n";

}  // namespace

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::Answer);
}

QString SingleInstance::DefaultName() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + "/halvorin-instance";
}

bool SingleInstance::HandOverToRunning() {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(kAnswerMs)) return false;
    socket.write(kRaise);
    if (!socket.waitForBytesWritten(kAnswerMs)) return false;
    // A running instance that does not answer in time is still running: a
    // second one would only fight it for the agent's port.
    socket.waitForReadyRead(kAnswerMs);
    return true;
}

bool SingleInstance::Listen(QString* error) {
    // Nobody answered on it (HandOverToRunning came first): what is left
    // there is a crashed instance's socket.
    QLocalServer::removeServer(name_);
    if (server_.listen(name_)) return true;
    if (error) *error = server_.errorString();
    return false;
}

void SingleInstance::Answer() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) return;
            if (socket->readLine(64) == kRaise) emit RaiseRequested();
            socket->write(kDone);
            socket->disconnectFromServer();
        });
    }
}

}  // namespace halvorin
