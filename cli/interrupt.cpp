#include "cli/interrupt.h"

#ifdef Q_OS_WIN
#include <QMetaObject>
#ifndef NOMINMAX // libstdc++ of MinGW-w64 defines it already
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace cli {

namespace {

#ifdef Q_OS_WIN
BOOL WINAPI onConsoleControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    // Called on a thread of its own: hand over to the event loop's thread.
    static bool once = false;
    if (once)
        return FALSE; // the second Ctrl-C ends the process
    once = true;
    QMetaObject::invokeMethod(&Interrupt::instance(), "triggered", Qt::QueuedConnection);
    return TRUE;
}
#else
// The handler only writes a byte; the event loop reads it and does the rest.
int signalPair[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPair[1], &byte, 1);
}
#endif

} // namespace

Interrupt &Interrupt::instance()
{
    static Interrupt interrupt;
    return interrupt;
}

Interrupt::Interrupt()
{
    connect(this, &Interrupt::triggered, this, [this] { m_requested = true; });
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
#else
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPair) != 0)
        return; // Ctrl-C then ends the program the ordinary way
    auto *notifier = new QSocketNotifier(signalPair[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPair[0], &byte, 1);
        trigger();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // After the first, the default action again: a second Ctrl-C ends the program at once.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
#endif
}

void Interrupt::trigger()
{
    if (!m_requested)
        emit triggered();
}

} // namespace cli
