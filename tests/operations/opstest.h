#pragma once

// The module commands end to end: a fresh window per test, linked at 9600 bit/s to the simulated
// module on a pseudo-terminal, with the clock the commands read held at a chosen instant.
#include "app/clock.h"
#include "linkedwindow.h"
#include "simulatedmodule.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QObject>
#include <QTextBrowser>

#include <memory>

namespace opstest {

// Every wait on the line or a timer: far beyond the longest interval involved (3 s), so that a
// loaded machine only makes a test slower, never makes it fail.
constexpr int patience = 15000;
// Where the clock stands when the window is built; it presets its start time 300 s later.
constexpr qint64 startUpSeconds = 0x65E6D2AD;

inline QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

} // namespace opstest

class tst_Operations : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // tst_modbus.cpp: measurement, address and line speed
    void modbusRequests_data();
    void modbusRequests();
    void addressRefused_data();
    void addressRefused();
    void pollRhythm();
    void labels_data();
    void labels();
    void baudChangeAnswered();

    // tst_logger.cpp: serial number and recording configuration
    void serialNumberWrites_data();
    void serialNumberWrites();
    void unknownModelRefusesWrites();
    void loggerRepliesBackToBack();
    void recordControls_data();
    void recordControls();
    void recordWrites_data();
    void recordWrites();
    void startTimeChecks_data();
    void startTimeChecks();

private:
    template <class T = QAbstractButton> T *ui(const char *name) const
    {
        return m_lw->child<T>(name);
    }
    // By the name after "pushButton".
    void click(const QByteArray &button) const { ui(("pushButton" + button).constData())->click(); }
    QString exchangeLog() const { return m_lw->child<QTextBrowser>("textBrowser")->toPlainText(); }
    void armForRefusal() const;
    // A refused command: its "Error" boxes, then nothing on the line, and no deadline or poll
    // behind it for longer than it would take (1000 ms, 1500 ms for a serial number).
    void expectRefused(const QStringList &texts, int quietMs = 1200) const;
    void chooseRecording(bool realtimeOnly, int startMode, const QString &rate) const;

    QDateTime m_now; // what the commands take for the current time
    std::unique_ptr<testsupport::LinkedWindow> m_lw;
};
