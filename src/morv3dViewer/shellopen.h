// "Shell open": a second start with a file hands the file to the instance already running on
// the same display and ends.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

// One name per user and display.
QString ShellOpenServerName();

// Whether an instance serves the name (it answers a connection).
bool IsInstanceRunning(const QString& strServerName, int nTimeoutMs = 500);

// Hands the path to the running instance; true when it took it, false when none runs.
bool SendToRunningInstance(const QString& strServerName, const QString& strPath,
                           int nTimeoutMs = 3000);

class CShellOpenServer : public QObject {
    Q_OBJECT

public:
    explicit CShellOpenServer(QObject* pParent = nullptr);

    // False when another live instance serves the name already.
    bool Listen(const QString& strServerName);

signals:
    // Emitted from the event loop after the sender has been answered.
    void openRequested(const QString& strPath);

private:
    void OnNewConnection();

    QLocalServer m_server;
};
