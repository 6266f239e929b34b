#include "samples/logfile.h"

#include "samples/csv.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>
#include <utility>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace samples {

namespace {
// Read size of the backwards search for the last newline; a torn line is at most one row long.
constexpr qint64 tailChunk = 4096;

QString systemError(int code)
{
    return QString::fromStdString(std::generic_category().message(code));
}

// Which file a handle or a path leads to: device and inode, or volume and file index.
using FileIdentity = std::pair<quint64, quint64>;

#ifdef Q_OS_WIN
HANDLE osHandle(const QFile &file)
{
    return HANDLE(_get_osfhandle(file.handle()));
}

std::optional<FileIdentity> identityOf(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        quint64(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

std::optional<FileIdentity> identityOf(const QFile &file)
{
    return identityOf(osHandle(file));
}

std::optional<FileIdentity> identityOf(const QString &path)
{
    // No access asked for: this opens even a file another program holds without sharing.
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()), 0,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    const auto identity = identityOf(handle);
    CloseHandle(handle);
    return identity;
}
#else
std::optional<FileIdentity> identityOf(const QFile &file)
{
    struct stat status;
    if (::fstat(file.handle(), &status) != 0)
        return std::nullopt;
    return FileIdentity{quint64(status.st_dev), quint64(status.st_ino)};
}

std::optional<FileIdentity> identityOf(const QString &path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return FileIdentity{quint64(status.st_dev), quint64(status.st_ino)};
}
#endif
} // namespace

LogFile::OpenResult LogFile::open(const QString &path)
{
    close();
    m_error.clear();
    m_pathLost = false;
    m_rows = 0;
    m_size = 0;
    const bool existed = QFileInfo::exists(path);
    m_file.setFileName(path);
    // Unbuffered: each write below is one system call, and nothing waits in a buffer of ours.
    // Append: should a writer that ignores the lock add to the file, our rows still go after
    // its bytes rather than over them.
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        return OpenResult::Failed;
    }
    if (!lock()) {
        m_file.close();
        m_error = QStringLiteral("in use by another program");
        return OpenResult::InUse;
    }

    const QByteArray header = csv::header();
    const qint64 size = m_file.size();
    const QByteArray head = m_file.seek(0) ? m_file.read(header.size()) : QByteArray();
    // A file that holds nothing but the start of the header was torn while it was created.
    const bool tornHeader = head.size() == size && header.startsWith(head);
    if (tornHeader) {
        if (cutBackTo(0) && writeDurably(header))
            return OpenResult::Opened;
        if (!existed)
            QFile::remove(path);
        return OpenResult::Failed;
    }
    if (head != header) {
        m_file.close();
        return OpenResult::Foreign;
    }
    if (!repairTornLine(size))
        return OpenResult::Failed;
    return OpenResult::Opened;
}

bool LogFile::append(const QByteArray &row)
{
    if (!isOpen())
        return false;
    const auto written = identityOf(m_file);
    if (!written || written != identityOf(m_file.fileName())) {
        m_pathLost = true;
        fail(QStringLiteral("the file was moved, replaced or deleted"));
        return false;
    }
    if (!writeDurably(row))
        return false;
    ++m_rows;
    return true;
}

void LogFile::close()
{
    m_file.close();
}

bool LogFile::writesTo(const QString &path) const
{
    if (!isOpen())
        return false;
    const auto written = identityOf(m_file);
    return written && written == identityOf(path);
}

bool LogFile::lock()
{
#ifdef Q_OS_WIN
    // Windows locks keep other programs from reading the locked bytes, so the lock is on one
    // byte far past any log's end: viewers can still read the rows, a second log cannot lock.
    OVERLAPPED farAway{};
    farAway.OffsetHigh = 0x7FFFFFFF;
    return LockFileEx(osHandle(m_file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                      0, &farAway) ||
           GetLastError() != ERROR_LOCK_VIOLATION;
#else
    // Only another holder refuses the log: a file system without locks (some network shares)
    // still logs, as it did before the lock.
    return ::flock(m_file.handle(), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
#endif
}

bool LogFile::writeDurably(const QByteArray &bytes)
{
    // What a writer that ignores the lock appended stays when a torn row of ours is cut back.
    m_size = std::max(m_size, m_file.size());
    m_file.unsetError();
    errno = 0;
    const qint64 written = m_file.write(bytes);
    // A short write (the disk filled up within the row) sets no error of QFile's own; errno
    // still holds why the rest was refused.
    const int writeErrno = errno;
    QString reason;
    if (written != bytes.size()) {
        reason = m_file.error() != QFileDevice::NoError
                     ? m_file.errorString()
                     : systemError(writeErrno ? writeErrno : EIO);
    } else if (!m_file.flush() || !sync()) {
        reason = m_error;
    }
    if (reason.isEmpty()) {
        m_size += bytes.size();
        return true;
    }
    // Whatever part of the row reached the disk goes again, so that the file ends in a whole
    // row. Should that fail too (a removed stick), the next open() cuts the torn line.
    cutBackTo(m_size);
    fail(reason);
    return false;
}

bool LogFile::sync()
{
#if defined(Q_OS_WIN)
    if (FlushFileBuffers(HANDLE(_get_osfhandle(m_file.handle()))))
        return true;
    m_error = QString::fromStdString(std::system_category().message(int(GetLastError())));
#else
#if defined(Q_OS_DARWIN)
    const int result = ::fsync(m_file.handle());
#else
    // The data and the size that reaches it; the modification time may wait.
    const int result = ::fdatasync(m_file.handle());
#endif
    if (result == 0)
        return true;
    m_error = systemError(errno);
#endif
    return false;
}

bool LogFile::cutBackTo(qint64 size)
{
    if (!m_file.resize(size) || !m_file.seek(size)) {
        fail(m_file.errorString());
        return false;
    }
    m_size = size;
    if (sync())
        return true;
    fail(m_error);
    return false;
}

bool LogFile::repairTornLine(qint64 size)
{
    // The header ends in a newline, so the search ends at the latest there.
    for (qint64 end = size; end > 0;) {
        const qint64 from = std::max<qint64>(0, end - tailChunk);
        QByteArray chunk;
        if (m_file.seek(from))
            chunk = m_file.read(end - from);
        if (chunk.size() != end - from) {
            fail(m_file.errorString());
            return false;
        }
        const qsizetype newline = chunk.lastIndexOf('\n');
        if (newline >= 0) {
            const qint64 complete = from + newline + 1;
            if (complete < size)
                return cutBackTo(complete);
            m_size = size;
            if (m_file.seek(size))
                return true;
            fail(m_file.errorString());
            return false;
        }
        end = from;
    }
    return cutBackTo(0);
}

void LogFile::fail(const QString &reason)
{
    m_error = reason;
    m_file.close();
}

} // namespace samples
