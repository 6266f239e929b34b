#pragma once

#include "bus/link.h"
#include "bus/poller.h"
#include "bus/scanner.h"
#include "samples/plausibility.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <map>
#include <optional>

QT_BEGIN_NAMESPACE
namespace Ui {
class BusPanel;
}
QT_END_NAMESPACE

namespace busview {

class BusTableModel;

// Where the port of the bus comes from: the main window's link, as the monitor follows it.
struct PortSource
{
    QString portName; // empty: never linked
    int speed = 0;
    bool heldByMainWindow = false;
};

// The Bus tab: the modules of a set of addresses polled round robin on the main window's port
// and speed, a row each, with the chamber check of their values against each other; and a scan
// that fills the set. The main window lends the port while the bus has it (portWanted(),
// portReturned()).
class BusPanel : public QWidget
{
    Q_OBJECT

public:
    explicit BusPanel(QWidget *parent = nullptr);
    ~BusPanel() override;

    // Asked each time the bus needs the port.
    void setPortSource(std::function<PortSource()> source) { m_portSource = std::move(source); }
    const bus::Poller &poller() const { return m_poller; }
    BusTableModel *model() const { return m_model; }
    bool isPolling() const { return m_poller.isPolling(); }

signals:
    // The main window should close its port and show itself unlinked, until portReturned().
    void portWanted();
    void portReturned();
    // With the plausibility flags of its values; none for a missed reading.
    void sampleTaken(const samples::Sample &sample, samples::PlausibilityFlags flags);
    void pollingChanged(bool polling);

private:
    bool takePort();
    void givePortBack();
    void togglePoll();
    void onStopped();
    void onPolled(const samples::Sample &sample);
    void onLost();
    void toggleScan();
    void onScanHit(const bus::ScanHit &hit);
    void onScanFinished(bus::Scanner::End end);
    void showState();
    void showError(const QString &text);

    Ui::BusPanel *ui;
    bus::Link m_link;
    bus::Poller m_poller;
    bus::Scanner m_scanner;
    BusTableModel *m_model;
    std::function<PortSource()> m_portSource;
    bool m_borrowed = false; // the port is the main window's, lent
    QList<int> m_found;      // by the scan under way
    // By address: the step and flat checks compare a module's readings with its earlier ones.
    std::map<int, samples::PlausibilityCheck> m_checks;
};

} // namespace busview
