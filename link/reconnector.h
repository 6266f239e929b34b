#pragma once

#include "link/portwatcher.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;

// Brings a lost link back without the operator. After the port is lost it waits for the same
// adapter to come back: the same name made anew, the same USB adapter under another name, or a
// path (a symbolic link, a pseudo-terminal) that exists again; then it asks its owner to reopen
// it at the speed the link had. Told of every open, poll change and loss by its owner, so that it
// never reads the window's state.
class Reconnector : public QObject
{
    Q_OBJECT

public:
    // Opens `portName` at `speed`, resuming the poll if asked; false while it will not open yet.
    using Reopen = std::function<bool(const QString &portName, qint32 speed, bool resumePolling)>;

    explicit Reconnector(Reopen reopen, QObject *parent = nullptr);

    bool isWaiting() const { return m_waiting; }

    void noteOpened(const QString &portName, qint32 speed);
    void notePolling(bool polling);
    void noteLost();
    // The operator has taken over (Link or Close): whatever comes back stays closed.
    void cancel();

private:
    void check();
    QByteArray presence(const QString &portName) const;
    QString sameAdapterElsewhere() const;

    Reopen m_reopen;
    QTimer *m_timer = nullptr;
    PortWatcher *m_watcher = nullptr;
    QString m_name;
    qint32 m_speed = 0;
    bool m_polling = false;
    PortEntry m_adapter; // what the system told of the port when it was last opened
    QByteArray m_adapterNode;

    bool m_waiting = false;
    bool m_pollingAtLoss = false;
    QByteArray m_nodeAtLoss;
    bool m_sawAbsent = false;
};
