#pragma once

#include <QObject>

// Ctrl-C as a signal of the event loop, so that a command stops where it stands, closes the
// port and reports what it has done. A second Ctrl-C ends the program at once.
namespace cli {

class Interrupt : public QObject
{
    Q_OBJECT

public:
    // The one instance; its handler is installed on first use, after the application object.
    static Interrupt &instance();

    bool requested() const { return m_requested; }

signals:
    void triggered();

private:
    Interrupt();
    void trigger();

    bool m_requested = false;
};

} // namespace cli
