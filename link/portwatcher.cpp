#include "link/portwatcher.h"

#include "bus/serialnames.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>
#include <QTimer>

#include <algorithm>
#include <chrono>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <sys/stat.h>
#endif

#ifdef Q_OS_WIN
#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on
#endif

Q_LOGGING_CATEGORY(lcPorts, "quorvel.ports", QtWarningMsg)

namespace {

using namespace std::chrono_literals;
// A plugged adapter shows within this, plus one enumeration.
constexpr auto checkPeriod = 500ms;

#ifdef Q_OS_UNIX
// Names of the directory's entries, without a stat of each: all a cheap check can afford.
QByteArray entryNames(const char *path)
{
    QByteArray names;
    if (DIR *dir = ::opendir(path)) {
        while (const dirent *entry = ::readdir(dir)) {
            names += entry->d_name;
            names += '/';
        }
        ::closedir(dir);
    }
    return names;
}
#endif

QList<PortEntry> enumerateSerialPorts()
{
    QList<PortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        PortEntry port;
        port.name = info.portName();
        port.location = info.systemLocation();
        port.description = info.description();
        port.manufacturer = info.manufacturer();
        port.serialNumber = info.serialNumber();
        port.hasUsbIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        port.vendorId = info.vendorIdentifier();
        port.productId = info.productIdentifier();
        ports << port;
    }
    return ports;
}

PortWatcher::SystemPorts &systemPortsSource()
{
    static PortWatcher::SystemPorts source;
    return source;
}

} // namespace

AdapterMatch compareAdapters(const PortEntry &known, const PortEntry &found)
{
    if (!known.hasIdentity())
        return AdapterMatch::Same;
    if (!known.byIdPath.isEmpty() && !found.byIdPath.isEmpty())
        return known.byIdPath == found.byIdPath ? AdapterMatch::Same : AdapterMatch::Different;
    if (known.hasUsbIds && found.hasUsbIds) {
        const bool same = known.vendorId == found.vendorId && known.productId == found.productId &&
                          known.serialNumber == found.serialNumber;
        return same ? AdapterMatch::Same : AdapterMatch::Different;
    }
    return AdapterMatch::Unknown;
}

#ifdef Q_OS_WIN
// Windows announces serial ports that come and go to every top-level window.
class PortWatcher::DeviceChangeFilter : public QAbstractNativeEventFilter
{
public:
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
#else
    bool nativeEventFilter(const QByteArray &type, void *message, long *) override
#endif
    {
        const auto *msg = static_cast<const MSG *>(message);
        if (type != "windows_generic_MSG" || msg->message != WM_DEVICECHANGE)
            return false;
        const auto event = UINT(msg->wParam);
        if (event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE)
            ++changes;
        return false;
    }
    quint64 changes = 0;
};
#endif

PortWatcher::PortWatcher(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &PortWatcher::check);
#ifdef Q_OS_WIN
    m_deviceChanges = std::make_unique<DeviceChangeFilter>();
    QCoreApplication::instance()->installNativeEventFilter(m_deviceChanges.get());
#endif
}

PortWatcher::~PortWatcher()
{
#ifdef Q_OS_WIN
    QCoreApplication::instance()->removeNativeEventFilter(m_deviceChanges.get());
#endif
}

void PortWatcher::setExtraPaths(const QStringList &paths)
{
    m_extraPaths = paths;
}

void PortWatcher::start()
{
    m_fingerprint = fingerprint();
    m_ports = scan(m_extraPaths);
    m_timer->start(checkPeriod);
}

void PortWatcher::stop()
{
    m_timer->stop();
}

void PortWatcher::check()
{
    QByteArray now = fingerprint();
    if (now == m_fingerprint)
        return;
    m_fingerprint = std::move(now);
    m_ports = scan(m_extraPaths);
    qCDebug(lcPorts) << "ports changed:" << m_ports.size() << "present";
    emit portsChanged();
}

QByteArray PortWatcher::fingerprint() const
{
#if defined(Q_OS_LINUX)
    // Every tty the kernel has, USB adapters included, appears here: 60-odd names, read in
    // microseconds, where the enumeration reads several sysfs files and udev records per port.
    QByteArray print = entryNames("/sys/class/tty");
#elif defined(Q_OS_WIN)
    QByteArray print = QByteArray::number(m_deviceChanges->changes);
#else
    QByteArray print = entryNames("/dev");
#endif
    for (const QString &path : m_extraPaths)
        print += '|' + nodeKey(path);
    return print;
}

void PortWatcher::setSystemPorts(SystemPorts source)
{
    systemPortsSource() = std::move(source);
}

QList<PortEntry> PortWatcher::scan(const QStringList &extraPaths)
{
    const QHash<QString, QString> byId = bus::serialByIdNames();
    const SystemPorts &source = systemPortsSource();
    QList<PortEntry> ports = source ? source() : enumerateSerialPorts();
    for (PortEntry &port : ports) {
        if (port.byIdPath.isEmpty())
            port.byIdPath = byId.value(port.location);
    }
    for (const QString &path : extraPaths) {
        const QFileInfo file(path);
        if (!file.exists())
            continue;
        const QString node = file.canonicalFilePath();
        // A stable name of a port the system lists already is the same port.
        const bool listed = std::any_of(ports.cbegin(), ports.cend(), [&](const PortEntry &p) {
            return p.location == node || p.name == path;
        });
        if (listed)
            continue;
        PortEntry port;
        port.name = path;
        port.location = node;
        port.byIdPath = byId.value(node);
        ports << port;
    }
    return ports;
}

QString PortWatcher::locationOf(const QString &portName)
{
#ifdef Q_OS_UNIX
    if (!portName.contains(QLatin1Char('/')))
        return QLatin1String("/dev/") + portName;
#endif
    return portName;
}

QByteArray PortWatcher::nodeKey(const QString &path)
{
#ifdef Q_OS_UNIX
    const QByteArray local = QFile::encodeName(path);
    struct stat node
    {
    };
    struct stat link
    {
    };
    if (::stat(local.constData(), &node) != 0 || ::lstat(local.constData(), &link) != 0)
        return {};
        // A pseudo-terminal made anew may get the number and inode of the old one; its creation
        // time and a new symbolic link to it still differ.
#ifdef Q_OS_LINUX
    const qint64 createdNs = qint64(node.st_ctim.tv_sec) * 1000000000 + node.st_ctim.tv_nsec;
#else
    const qint64 createdNs = qint64(node.st_ctime) * 1000000000;
#endif
    return QByteArray::number(quint64(node.st_rdev)) + ':' +
           QByteArray::number(quint64(node.st_ino)) + ':' + QByteArray::number(createdNs) + ':' +
           QByteArray::number(quint64(link.st_ino));
#else
    return QFileInfo::exists(path) ? QByteArray("present") : QByteArray();
#endif
}
