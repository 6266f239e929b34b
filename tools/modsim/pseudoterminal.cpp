#include "pseudoterminal.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#if defined(__linux__)
#include <pty.h>
#endif

namespace modsim {

namespace {

int speedFromTermios(speed_t s)
{
    switch (s) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 0;
    }
}

QString systemError(const char *what)
{
    return QString::fromLatin1(what) + QLatin1String(": ") +
           QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

PseudoTerminal::PseudoTerminal(QObject *parent) : Line(parent) {}

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open(const QString &linkPath)
{
    close();
    m_wantedLink = linkPath;
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        m_error = systemError("posix_openpt");
        return false;
    }
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        m_error = systemError("grantpt/unlockpt");
        close();
        return false;
    }
    const char *name = ::ptsname(m_master);
    if (!name) {
        m_error = systemError("ptsname");
        close();
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);

    m_slaveKeepAlive = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slaveKeepAlive >= 0) {
        termios tio{};
        if (::tcgetattr(m_slaveKeepAlive, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::cfsetispeed(&tio, B9600);
            ::cfsetospeed(&tio, B9600);
            ::tcsetattr(m_slaveKeepAlive, TCSANOW, &tio);
        }
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    // A program started from this process (the tool under test) must not inherit the line:
    // holding either end open, it would keep vanish() from hanging the line up.
    for (int fd : {m_master, m_slaveKeepAlive}) {
        if (fd >= 0)
            ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
    }

    if (!linkPath.isEmpty()) {
        // Only a symbolic link is ours to replace: --link ~/notes.txt must not delete a file.
        const QFileInfo existing(linkPath);
        if (existing.isSymLink()) {
            QFile::remove(linkPath);
        } else if (existing.exists()) {
            m_error = QLatin1String("refusing to replace ") + linkPath +
                      QLatin1String(": it exists and is not a symbolic link");
            close();
            return false;
        }
        if (!QFile::link(m_slavePath, linkPath)) {
            m_error = QLatin1String("cannot create the link ") + linkPath;
            close();
            return false;
        }
        m_linkPath = linkPath;
    }

    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PseudoTerminal::onActivated);
    return true;
}

void PseudoTerminal::close()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (!m_linkPath.isEmpty()) {
        QFile::remove(m_linkPath);
        m_linkPath.clear();
    }
    if (m_slaveKeepAlive >= 0) {
        ::close(m_slaveKeepAlive);
        m_slaveKeepAlive = -1;
    }
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

qint64 PseudoTerminal::write(const QByteArray &bytes)
{
    if (m_master < 0)
        return -1;
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // A full buffer means nobody reads the far side (its port is closed): the rest is
            // lost, as on a real line, rather than blocking the event loop until someone does.
            if (errno == EAGAIN)
                return done;
            return done > 0 ? done : -1;
        }
        done += n;
    }
    return done;
}

QByteArray PseudoTerminal::readAll()
{
    QByteArray result;
    if (m_master < 0)
        return result;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n > 0) {
            result.append(chunk, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    return result;
}

int PseudoTerminal::lineSpeed() const
{
    if (m_master < 0)
        return 0;
    termios tio{};
    if (::tcgetattr(m_master, &tio) != 0)
        return 0;
    return speedFromTermios(::cfgetospeed(&tio));
}

void PseudoTerminal::onActivated()
{
    emit readyRead();
}

} // namespace modsim
