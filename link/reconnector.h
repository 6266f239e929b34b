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
// it at the speed the link had. Another device under the lost name (another serial number,
// VID:PID or by-id name) stays closed; a port with nothing to tell it by (a pseudo-terminal, a
// network port) is its name.
//
// Told of the established link, poll changes and losses by its owner, so that it never reads
// the window's state.
class Reconnector : public QObject
{
    Q_OBJECT

public:
    // Opens `portName` at `speed`, resuming the poll if asked; false while it will not open yet.
    using Reopen = std::function<bool(const QString &portName, qint32 speed, bool resumePolling)>;

    explicit Reconnector(Reopen reopen, QObject *parent = nullptr);

    bool isWaiting() const { return m_waiting; }

    // The link as it now stands, at a speed the operator chose or the module confirmed: what a
    // loss brings back. An open that may yet prove wrong (a probe step) is not one.
    void noteEstablished(const QString &portName, qint32 speed);
    void notePolling(bool polling);
    void noteLost();
    // The operator has taken over (Link or Close): the link is forgotten, and whatever comes
    // back stays closed.
    void cancel();

private:
    void check();
    void stopWaiting();
    QByteArray presence(const QString &portName) const;
    bool isLostAdapter(const QByteArray &node);
    QString sameAdapterElsewhere() const;

    Reopen m_reopen;
    QTimer *m_timer = nullptr;
    PortWatcher *m_watcher = nullptr;
    QString m_name; // empty while no link is established
    qint32 m_speed = 0;
    bool m_polling = false;
    PortEntry m_adapter; // what the system told of the port when the link was established
    QByteArray m_adapterNode;

    bool m_waiting = false;
    bool m_pollingAtLoss = false;
    QByteArray m_nodeAtLoss;
    bool m_sawAbsent = false;
    QByteArray m_rejectedNode; // another device, under the lost name until it goes
    QByteArray m_lookedNode;
    int m_unknownLooks = 0; // at m_lookedNode, which shows no identity yet
};
