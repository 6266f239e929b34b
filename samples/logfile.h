#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace samples {

// The measurement log: rows appended to a file as they come, so that a crash, a kill -9 or a
// pulled stick loses at most the row being written. Each row is one write, then a flush and a
// data sync; a row that reached the disk only in part is cut off again, so the file always ends
// in a complete row.
//
// While open, the file is locked against a second log (this program's or another's), and each
// row first checks that the path still names the file: a log moved, replaced or deleted under
// us stops rather than writing rows nobody will find.
class LogFile
{
public:
    enum class OpenResult {
        Opened,
        Failed,  // cannot be opened, read or written: errorString() says why
        Foreign, // its first line is not the measurement header: left untouched
        InUse,   // another log holds it: left untouched
    };

    LogFile() = default;
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    // Opens `path` for appending, creating it with the header when it is new or empty. An
    // existing file keeps its rows; a torn last line (no final newline) is cut back first.
    OpenResult open(const QString &path);
    // One row, newline included. On failure the file is closed, still ending in a complete
    // row, and errorString() says why.
    bool append(const QByteArray &row);
    void close();

    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }
    QString errorString() const { return m_error; }
    qint64 rowsWritten() const { return m_rows; } // since open()
    // The last append() failed because the path no longer names the open file.
    bool pathLost() const { return m_pathLost; }
    // Whether `path` names the open file, under whatever name or link.
    bool writesTo(const QString &path) const;

private:
    bool lock();
    bool writeDurably(const QByteArray &bytes);
    bool sync();
    bool cutBackTo(qint64 size);
    bool repairTornLine(qint64 size);
    void fail(const QString &reason);

    QFile m_file;
    qint64 m_size = 0; // bytes known complete and synced
    qint64 m_rows = 0;
    QString m_error;
    bool m_pathLost = false;
};

} // namespace samples
