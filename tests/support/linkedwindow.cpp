#include "linkedwindow.h"

#include "protocol/uartdata.h"
#include "simulatedmodule.h"

#include <QDir>
#include <QHostAddress>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace testsupport {

namespace {
// Long enough for a probe that ends at 1200 bit/s on a loaded machine.
constexpr int linkTimeoutMs = 10000;

int countTitled(const ModalWatcher &watcher, const QString &title)
{
    int n = 0;
    for (const ShownMessage &m : watcher.messages()) {
        if (m.title == title)
            ++n;
    }
    return n;
}
} // namespace

LinkedWindow::LinkedWindow(bool overTcp)
    : m_dir(QDir::tempPath() + QLatin1String("/quorvel-link-XXXXXX"))
{
    resetUartData();
    m_sim = std::make_unique<modsim::SimulatedModule>();
    const bool started =
        overTcp ? m_sim->startTcp(QHostAddress::LocalHost, 0)
                : m_dir.isValid() && m_sim->start(m_dir.filePath(QStringLiteral("ttyQuorvel")));
    if (!started)
        qWarning() << "simulated module did not start:" << m_sim->errorString();

    m_widget = std::make_unique<Widget>();
    m_widget->show();
    const bool exposed = QTest::qWaitForWindowExposed(m_widget.get());
    m_watcher = std::make_unique<ModalWatcher>();
    m_ready = started && exposed;
}

LinkedWindow::~LinkedWindow() = default;

QString LinkedWindow::portName() const
{
    return m_sim->portName();
}

bool LinkedWindow::link(const QString &baud)
{
    auto *button = child<QPushButton>("pushButtonLink");
    auto *address = child<QLineEdit>("lineEditAddress");
    if (!m_ready || !button || !address)
        return false;

    const QString succeed = QStringLiteral("Succeed");
    const int succeededBefore = countTitled(*m_watcher, succeed);
    address->clear();
    m_watcher->setDialogHandler(acceptLinkDialog(portName(), baud));
    // Returns once the dialog has been accepted: exec() runs inside the click.
    QTest::mouseClick(button, Qt::LeftButton);
    m_watcher->setDialogHandler({});

    const QString expected = QString::number(m_sim->module().address());
    if (!QTest::qWaitFor([&] { return address->text() == expected; }, linkTimeoutMs))
        return false;
    if (baud != QLatin1String("AUTO"))
        return true;
    return QTest::qWaitFor([&] { return countTitled(*m_watcher, succeed) > succeededBefore; },
                           linkTimeoutMs);
}

void LinkedWindow::resetUartData()
{
    UartData = UartRecord{};
}

} // namespace testsupport
