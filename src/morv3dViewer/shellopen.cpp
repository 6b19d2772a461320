#include "shellopen.h"

#include <unistd.h>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QMetaObject>
#include <QRegularExpression>

namespace {

const QByteArray kAccepted = QByteArrayLiteral("OK\n");

}  // namespace

QString ShellOpenServerName() {
    QString strDisplay = QGuiApplication::platformName();
    const QByteArray display = qEnvironmentVariable("WAYLAND_DISPLAY").isEmpty()
                                   ? qgetenv("DISPLAY")
                                   : qgetenv("WAYLAND_DISPLAY");
    if (strDisplay != QLatin1String("offscreen") && !display.isEmpty()) {
        strDisplay += QLatin1Char('-') + QString::fromLocal8Bit(display);
    }
    strDisplay.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
    return QStringLiteral("morv3dViewer-%1-%2").arg(getuid()).arg(strDisplay);
}

bool IsInstanceRunning(const QString& strServerName, int nTimeoutMs) {
    QLocalSocket probe;
    probe.connectToServer(strServerName);
    return probe.waitForConnected(nTimeoutMs);
}

bool SendToRunningInstance(const QString& strServerName, const QString& strPath, int nTimeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(strServerName);
    if (!socket.waitForConnected(nTimeoutMs)) {
        return false;
    }
    socket.write(strPath.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(nTimeoutMs)) {
        return false;
    }
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(nTimeoutMs)) {
            return false;
        }
    }
    return socket.readLine() == kAccepted;
}

CShellOpenServer::CShellOpenServer(QObject* pParent) : QObject(pParent) {
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &CShellOpenServer::OnNewConnection);
}

bool CShellOpenServer::Listen(const QString& strServerName) {
    // Binding would replace the socket of a live instance, so ask first; a socket file that
    // nobody answers on is left over from an instance that crashed.
    if (IsInstanceRunning(strServerName)) {
        return false;
    }
    QLocalServer::removeServer(strServerName);
    return m_server.listen(strServerName);
}

void CShellOpenServer::OnNewConnection() {
    while (QLocalSocket* pSocket = m_server.nextPendingConnection()) {
        connect(pSocket, &QLocalSocket::disconnected, pSocket, &QObject::deleteLater);
        connect(pSocket, &QLocalSocket::readyRead, this, [this, pSocket] {
            if (!pSocket->canReadLine()) {
                return;
            }
            const QString strPath = QString::fromUtf8(pSocket->readLine()).chopped(1);
            pSocket->write(kAccepted);
            pSocket->flush();
            pSocket->disconnectFromServer();
            // Opening may show a message box; the sender must not wait for it.
            QMetaObject::invokeMethod(
                this, [this, strPath] { emit openRequested(strPath); }, Qt::QueuedConnection);
        });
    }
}
