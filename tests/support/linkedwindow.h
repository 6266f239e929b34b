#pragma once

#include "app/widget.h"
#include "modalwatcher.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace modsim {
class SimulatedModule;
}

namespace testsupport {

// A shown main window and a simulated module on a fresh pseudo-terminal, with a ModalWatcher
// that records and closes every message box. The module is reached under a symbolic link of
// its own, so that vanish() and restore() keep the port name the window opens.
//
// Construction starts from a fresh UartData; check isReady() before using the fixture.
class LinkedWindow
{
public:
    // Over TCP: the module behind a simulated serial device server on the loopback.
    explicit LinkedWindow(bool overTcp = false);
    ~LinkedWindow();
    LinkedWindow(const LinkedWindow &) = delete;
    LinkedWindow &operator=(const LinkedWindow &) = delete;

    // The module started, and the window is shown.
    bool isReady() const { return m_ready; }
    // The module's port name, as typed into the settings dialog.
    QString portName() const;

    // Presses Link through the real button, fills the real settings dialog with the module's
    // port and the baud entry `baud` ("AUTO", "9600", ...) and waits until the window shows
    // the module's address in lineEditAddress. With "AUTO" it also waits for the probe's
    // "Succeed" box (closed by the watcher). Returns false when that does not happen in time.
    bool link(const QString &baud = QStringLiteral("9600"));

    Widget *widget() const { return m_widget.get(); }
    modsim::SimulatedModule *sim() const { return m_sim.get(); }
    ModalWatcher *watcher() const { return m_watcher.get(); }

    // A control of the main window by its object name, or nullptr.
    template <class T> T *child(const char *objectName) const
    {
        return m_widget ? m_widget->findChild<T *>(QString::fromLatin1(objectName)) : nullptr;
    }
    // The window's serial port.
    QSerialPort *port() const { return m_widget ? m_widget->findChild<QSerialPort *>() : nullptr; }

    // UartData is process-wide: each test starts from the record a fresh start would have.
    static void resetUartData();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<modsim::SimulatedModule> m_sim;
    std::unique_ptr<Widget> m_widget;
    std::unique_ptr<ModalWatcher> m_watcher;
    bool m_ready = false;
};

} // namespace testsupport
