#include "cli/output.h"

#include "cli/options.h"

#include <QJsonDocument>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace cli {

namespace {

void write(std::FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void writeResults(const QByteArray &bytes)
{
    errno = 0;
    const bool whole = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout) ==
                       std::size_t(bytes.size());
    if (std::fflush(stdout) == 0 && whole)
        return;
    const int error = errno;
    std::fprintf(stderr, "quorvel-cli: cannot write the results to standard output: %s\n",
                 error != 0 ? std::strerror(error) : "short write");
    std::fflush(stderr);
    // Not exit(): the objects on main()'s stack are still alive, and nothing is left to tidy
    // that the system does not close.
    std::_Exit(exitOutput);
}

Output::Output(bool json)
    : m_json(json), m_stderrIsTerminal(isatty(fileno(stderr)) != 0),
      m_stdoutIsTerminal(isatty(fileno(stdout)) != 0)
{
}

void Output::result(const QString &line)
{
    // A result on the same terminal would land in the middle of the progress line.
    if (m_stdoutIsTerminal)
        endProgress();
    writeResults(line.toUtf8() + '\n');
}

void Output::result(const QJsonObject &object)
{
    if (m_stdoutIsTerminal)
        endProgress();
    writeResults(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

void Output::resultBytes(const QByteArray &bytes)
{
    writeResults(bytes);
}

void Output::message(const QString &text)
{
    writeErr(QStringLiteral("quorvel-cli: ") + text);
}

void Output::trace(const QString &line)
{
    writeErr(line);
}

void Output::progress(const QString &line)
{
    if (!m_stderrIsTerminal) {
        write(stderr, line.toUtf8() + '\n');
        return;
    }
    // Carriage return and blanks rather than terminal escapes: any console understands them.
    const int width = int(line.size());
    write(stderr, '\r' + line.toUtf8() + QByteArray(qMax(0, m_progressWidth - width), ' '));
    m_progressWidth = width;
}

void Output::endProgress()
{
    if (m_progressWidth == 0)
        return;
    write(stderr, '\r' + QByteArray(m_progressWidth, ' ') + '\r');
    m_progressWidth = 0;
}

void Output::writeErr(const QString &line)
{
    endProgress();
    write(stderr, line.toUtf8() + '\n');
}

} // namespace cli
