// quorvel-cli: the module from the command line, for scripts, production lines and buses.
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/session.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

#ifdef Q_OS_WIN
#define NOMINMAX
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

int main(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    // A closed pipe then fails the write, which is reported with a status a script can read,
    // rather than ending the program unannounced.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvel-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
#ifdef Q_OS_WIN
    // The units (°C) and port descriptions are UTF-8; CSV rows end in LF as the window's files
    // do, not in the CRLF a text-mode stream would make of them.
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
#endif

    cli::Invocation invocation;
    const cli::ParseResult parsed = cli::parseArguments(QCoreApplication::arguments(),
                                                        QDateTime::currentDateTime(), invocation);
    switch (parsed.outcome) {
    case cli::ParseOutcome::Help:
        cli::writeResults(cli::helpText().toUtf8());
        return cli::exitDone;
    case cli::ParseOutcome::Version:
        cli::writeResults(QByteArrayLiteral("quorvel-cli " QUORVEL_VERSION "\n"));
        return cli::exitDone;
    case cli::ParseOutcome::Error:
        std::fprintf(stderr, "quorvel-cli: %s\nTry \"quorvel-cli --help\".\n",
                     parsed.error.toUtf8().constData());
        return cli::exitUsage;
    case cli::ParseOutcome::Run:
        break;
    }

    cli::Interrupt::instance();
    cli::Output output(invocation.json);
    cli::Session session(invocation, output);
    return session.run();
}
