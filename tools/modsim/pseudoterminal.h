#pragma once

#include "line.h"

class QSocketNotifier;

namespace modsim {

// The master side of a Linux/macOS pseudo-terminal pair. Whatever opens the slave side (by its
// /dev/pts path or by the optional symbolic link) sees a serial port; QSerialPort opens it like
// any other device.
class PseudoTerminal : public Line
{
    Q_OBJECT

public:
    explicit PseudoTerminal(QObject *parent = nullptr);
    ~PseudoTerminal() override;

    // Opens a new pair in raw mode. With a non-empty `linkPath`, a symbolic link of that name
    // is (re)made to point at the slave device and removed again by close().
    bool open(const QString &linkPath = QString());
    void close() override;
    // A fresh pair under the link path of the last open().
    bool reopen() override { return open(m_wantedLink); }
    bool isOpen() const override { return m_master >= 0; }

    QString slavePath() const { return m_slavePath; }
    QString linkPath() const { return m_linkPath; }
    // The name a serial-port user should open: the link if there is one, else the device.
    QString portName() const override { return m_linkPath.isEmpty() ? m_slavePath : m_linkPath; }
    QString errorString() const override { return m_error; }

    // Never blocks: what does not fit while the far side is not reading is dropped. Returns
    // the number of bytes taken, or -1 on an error.
    qint64 write(const QByteArray &bytes) override;
    QByteArray readAll() override;

    // The line speed the far side set (on Linux the master reports the slave's termios);
    // 0 when it cannot be told.
    int lineSpeed() const override;

private:
    void onActivated();

    int m_master = -1;
    int m_slaveKeepAlive = -1; // keeps the master from seeing hang-ups between far-side opens
    QSocketNotifier *m_notifier = nullptr;
    QString m_slavePath;
    QString m_linkPath;
    QString m_wantedLink;
    QString m_error;
};

} // namespace modsim
