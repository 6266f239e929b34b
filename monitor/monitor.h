#pragma once

#include <QObject>

#include <memory>

class Widget;

namespace monitor {

class LinkMonitor;
class MonitorWindow;

// The monitor of one main window: records what the window reports about the line from the
// moment it is made, and shows the monitor window when the operator asks for it. The window is
// built on the first request, with the chart from its plugin, and raised by later ones.
class Monitor : public QObject
{
    Q_OBJECT

public:
    // Owned by the main window.
    explicit Monitor(Widget *mainWindow);
    ~Monitor() override;

    LinkMonitor *link() const { return m_link; }
    void showWindow();

private:
    Widget *m_mainWindow;
    LinkMonitor *m_link;
    // Not a child of the main window, so that it is a window of its own rather than one kept
    // above the main window; it goes with the monitor all the same.
    std::unique_ptr<MonitorWindow> m_window;
};

} // namespace monitor
