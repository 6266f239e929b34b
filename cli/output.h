#pragma once

#include <QJsonObject>
#include <QString>

// What the program prints. Results go to standard output, one line each, as text or JSON;
// messages, traces and progress go to standard error, so that a script's pipe carries results
// only. Every line is flushed at once: a script reading a long run sees each reading as it comes.
//
// A result that cannot be written (a full disk, a closed pipe) ends the program with a message
// and exitOutput: a run whose results are lost is not worth going on with, and a result is
// only ever written between requests, never between a write and its read-back.
namespace cli {

// Writes and flushes bytes on standard output, or ends the program as above.
void writeResults(const QByteArray &bytes);

class Output
{
public:
    explicit Output(bool json);

    bool json() const { return m_json; }

    void result(const QString &line);
    void result(const QJsonObject &object);
    // Raw bytes on standard output (the CSV rows).
    void resultBytes(const QByteArray &bytes);

    // "quorvel-cli: <message>" on standard error.
    void message(const QString &text);
    // A line of the -v trace.
    void trace(const QString &line);

    // A progress line that redraws itself on a terminal; a plain line otherwise.
    bool progressIsLive() const { return m_stderrIsTerminal; }
    void progress(const QString &line);
    void endProgress();

private:
    void writeErr(const QString &line);

    bool m_json;
    bool m_stderrIsTerminal;
    bool m_stdoutIsTerminal;
    int m_progressWidth = 0; // characters of the progress line now on the terminal
};

} // namespace cli
