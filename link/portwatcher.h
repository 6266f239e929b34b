#pragma once

#include <QByteArray>
#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QTimer;

// Ports appearing and vanishing, test opens, reconnects.
Q_DECLARE_LOGGING_CATEGORY(lcPorts)

// A serial port as the operator picks it, with what tells one adapter from another.
struct PortEntry
{
    QString name;     // what the link opens: the system's port name, or a path as it was given
    QString location; // the device node behind it
    QString description;
    QString manufacturer;
    QString serialNumber;
    quint16 vendorId = 0;
    quint16 productId = 0;
    bool hasUsbIds = false;
    QString byIdPath; // Linux: the adapter's stable /dev/serial/by-id/ name

    // Something tells this adapter from another of its kind. A pseudo-terminal or a network
    // port has nothing but its name.
    bool hasIdentity() const { return hasUsbIds || !byIdPath.isEmpty(); }
};

enum class AdapterMatch { Same, Different, Unknown };
// Whether `found` is the adapter `known` was: by the by-id name where both have one (it tells
// the interfaces of a multi-port adapter apart), else by VID:PID and serial number. Unknown
// while `found` shows nothing to compare yet; a `known` port without identity is its name.
AdapterMatch compareAdapters(const PortEntry &known, const PortEntry &found);

// Follows the machine's serial ports while it runs: the system's list, plus device paths that
// list never shows (symbolic links, pseudo-terminals) for as long as they exist.
//
// The full enumeration costs milliseconds a call, more with many ttys, so it is not repeated
// blindly: a cheap check runs every checkPeriod (the names in /sys/class/tty on Linux, device
// arrival and removal messages on Windows, the extra paths' device nodes everywhere), and only a
// change there pays for the enumeration.
class PortWatcher : public QObject
{
    Q_OBJECT

public:
    explicit PortWatcher(QObject *parent = nullptr);
    ~PortWatcher() override;

    void setExtraPaths(const QStringList &paths);
    // Takes the first snapshot at once, then follows.
    void start();
    void stop();
    QList<PortEntry> ports() const { return m_ports; }

    // The full enumeration behind ports().
    static QList<PortEntry> scan(const QStringList &extraPaths = {});
    // Replaces the system's own list of ports (what identifies each adapter included), so
    // that tests can present adapters of their choosing; an empty function restores it.
    using SystemPorts = std::function<QList<PortEntry>()>;
    static void setSystemPorts(SystemPorts source);
    // What the cheap check compares from one period to the next.
    QByteArray fingerprint() const;
    // The device node a port name stands for ("ttyUSB0" is /dev/ttyUSB0; a path is itself).
    static QString locationOf(const QString &portName);
    // Changes whenever the node at `path` is removed or made anew, even under the same name;
    // empty while there is none.
    static QByteArray nodeKey(const QString &path);

signals:
    void portsChanged();

private:
    void check();

    QTimer *m_timer = nullptr;
    QStringList m_extraPaths;
    QByteArray m_fingerprint;
    QList<PortEntry> m_ports;
#ifdef Q_OS_WIN
    class DeviceChangeFilter;
    std::unique_ptr<DeviceChangeFilter> m_deviceChanges;
#endif
};
