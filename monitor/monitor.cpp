#include "monitor/monitor.h"

#include "app/widget.h"
#include "busview/buspanel.h"
#include "monitor/chartplugin.h"
#include "monitor/linkmonitor.h"
#include "monitor/monitorwindow.h"

namespace monitor {

Monitor::Monitor(Widget *mainWindow)
    : QObject(mainWindow), m_mainWindow(mainWindow), m_link(new LinkMonitor(this))
{
    connect(mainWindow, &Widget::requestSent, m_link, &LinkMonitor::onRequestSent);
    connect(mainWindow, &Widget::replyRecognised, m_link, &LinkMonitor::onReplyRecognised);
    connect(mainWindow, &Widget::bytesReceived, m_link, &LinkMonitor::onBytesReceived);
    connect(mainWindow, &Widget::bytesDiscarded, m_link, &LinkMonitor::onBytesDiscarded);
    connect(mainWindow, &Widget::pollingChanged, m_link, &LinkMonitor::onPollingChanged);
    connect(mainWindow, &Widget::portOpened, m_link, &LinkMonitor::onPortOpened);
    connect(mainWindow, &Widget::portClosed, m_link, &LinkMonitor::onPortClosed);
    connect(mainWindow, &Widget::portLost, m_link, &LinkMonitor::onPortLost);
    connect(mainWindow, &Widget::portReconnected, m_link, &LinkMonitor::onPortReconnected);
    connect(mainWindow, &Widget::monitorRequested, this, &Monitor::showWindow);
}

Monitor::~Monitor() = default;

void Monitor::showWindow()
{
    if (!m_window) {
        m_window = std::make_unique<MonitorWindow>(m_link, trendCharts());
        // The bus borrows the main window's port and speed; the main window lends the port.
        busview::BusPanel *bus = m_window->busPanel();
        bus->setPortSource([link = m_link] {
            return busview::PortSource{link->portName(), link->portSpeed(), link->isPortOpen()};
        });
        connect(bus, &busview::BusPanel::portWanted, m_mainWindow, &Widget::releasePort);
        connect(bus, &busview::BusPanel::portReturned, m_mainWindow, &Widget::resumePort);
    }
    // A minimised window would stay an icon when merely shown again.
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

} // namespace monitor
