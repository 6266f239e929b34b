// The Bus tab over the simulated bus: the port taken over from the main window and handed
// back, the chamber check that marks the module reading off the others, the plausibility mark
// of an impossible value, and Save CSV with every module's rows.
#include "linkedwindow.h"
#include "simulatedmodule.h"

#include "busview/buspanel.h"
#include "busview/bustablemodel.h"
#include "monitor/monitor.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTableView>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <map>

using busview::BusTableModel;
using testsupport::LinkedWindow;

namespace {

constexpr int patientMs = 20000;

busview::BusPanel *shownBusPanel()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (auto *panel = window->findChild<busview::BusPanel *>())
            return panel;
    }
    return nullptr;
}

// Answers the take-over question as told, from the event loop.
class QuestionAnswerer : public QObject
{
public:
    explicit QuestionAnswerer(QMessageBox::StandardButton answer) : m_answer(answer)
    {
        startTimer(10);
    }
    int asked = 0;
    QStringList others; // any other box, closed

protected:
    void timerEvent(QTimerEvent *) override
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box || !box->isVisible())
                continue;
            if (box->button(m_answer)) {
                ++asked;
                box->button(m_answer)->click();
            } else {
                others.append(box->text());
                box->accept();
            }
        }
    }

private:
    QMessageBox::StandardButton m_answer;
};

} // namespace

class TestBusView : public QObject
{
    Q_OBJECT

private slots:
    void takeOverAndChamberCheck_data();
    void takeOverAndChamberCheck();
};

void TestBusView::takeOverAndChamberCheck_data()
{
    QTest::addColumn<bool>("handOver");
    QTest::addColumn<bool>("overTcp");
    QTest::newRow("the port handed over") << true << false;
    QTest::newRow("the question declined") << false << false;
    QTest::newRow("the network link handed over") << true << true;
}

void TestBusView::takeOverAndChamberCheck()
{
    QFETCH(bool, handOver);
    QFETCH(bool, overTcp);
    LinkedWindow fixture(overTcp);
    QVERIFY(fixture.isReady());
    const auto linked = [&] {
        const auto *socket = fixture.widget()->findChild<QTcpSocket *>();
        return overTcp ? socket && socket->state() == QAbstractSocket::ConnectedState
                       : fixture.port()->isOpen();
    };
    // Records from the start, as in the program.
    auto *monitor = new monitor::Monitor(fixture.widget());
    QVERIFY(fixture.link());
    // The bus joins after the link: the main window's address read goes to address 0.
    modsim::SimulatedModule &sim = *fixture.sim();
    // Module 4 reads a humidity no air has, and agrees with the others on the temperature.
    const std::array<std::array<int, 3>, 4> modules{
        {{1, 235, 550}, {2, 236, 560}, {3, 262, 500}, {4, 236, 1010}}};
    for (const auto &[address, temperature, humidity] : modules) {
        modsim::Module &module =
            address == 1 ? sim.module() : sim.addModule(modsim::Module()).module;
        module.setAddress(quint8(address));
        module.setTemperature(qint16(temperature));
        module.setHumidity(quint16(humidity));
        module.setFrozen(true);
    }
    Widget *mainWindow = fixture.widget();
    auto *read = fixture.child<QPushButton>("pushButtonRead");
    read->click();
    QCOMPARE(read->text(), QStringLiteral("Stop"));

    monitor->showWindow();
    busview::BusPanel *panel = shownBusPanel();
    QVERIFY(panel);
    auto *poll = panel->findChild<QPushButton *>(QStringLiteral("pushButtonBusPoll"));
    panel->findChild<QLineEdit *>(QStringLiteral("lineEditBusAddresses"))
        ->setText(QStringLiteral("1-4"));
    QSignalSpy closed(mainWindow, &Widget::portClosed);
    QSignalSpy opened(mainWindow, &Widget::portOpened);

    fixture.watcher()->setAutoClose(false);
    QuestionAnswerer answerer(handOver ? QMessageBox::Yes : QMessageBox::No);
    poll->click();
    QCOMPARE(answerer.asked, 1);
    QVERIFY2(answerer.others.isEmpty(), qPrintable(answerer.others.join(QLatin1Char('\n'))));
    if (!handOver) {
        QVERIFY(!panel->isPolling());
        QVERIFY(linked());
        QCOMPARE(read->text(), QStringLiteral("Stop"));
        QCOMPARE(closed.size(), 0);
        return;
    }
    // The main window shows itself unlinked while the bus has the port.
    QCOMPARE(closed.size(), 1);
    QVERIFY(!linked());
    QCOMPARE(read->text(), QStringLiteral("Read"));
    QCOMPARE(poll->text(), QStringLiteral("Stop"));

    const bus::Poller &poller = panel->poller();
    QTRY_VERIFY_WITH_TIMEOUT(
        std::all_of(poller.modules().begin(), poller.modules().end(),
                    [](const bus::ModuleStatus &m) { return m.answered >= 2; }),
        patientMs);
    BusTableModel *model = panel->model();
    // Medians 23.6 °C and 55.5 %RH: module 3 is off by 2.6 °C and 5.5 %RH, module 4 in humidity.
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(model->isMarked(row, BusTableModel::Temperature), row == 2);
        QCOMPARE(model->isMarked(row, BusTableModel::Humidity), row >= 2);
    }
    const QString tip =
        model->index(2, BusTableModel::Temperature).data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.contains(QStringLiteral("2.6")) && tip.contains(QStringLiteral("23.6")),
             qPrintable(tip));
    // Only module 4's humidity is implausible, with a sign of its own beside the median mark.
    for (int row = 0; row < 4; ++row) {
        for (const auto column : {BusTableModel::Temperature, BusTableModel::Humidity}) {
            const bool flagged = row == 3 && column == BusTableModel::Humidity;
            QCOMPARE(model->flagsOf(row, column),
                     flagged ? samples::PlausibilityFlag::Range : samples::PlausibilityFlags());
            QCOMPARE(model->index(row, column).data(Qt::DecorationRole).isNull(), !flagged);
        }
    }
    const QString flagTip =
        model->index(3, BusTableModel::Humidity).data(Qt::ToolTipRole).toString();
    QVERIFY2(flagTip.contains(QStringLiteral("median")) &&
                 flagTip.contains(QStringLiteral("range:")),
             qPrintable(flagTip));
    // Statistics: a row a module after the request kinds.
    const QAbstractItemModel *statistics =
        panel->window()->findChild<QTableView *>(QStringLiteral("tableStatistics"))->model();
    const int moduleRow = statistics->rowCount() - 1;
    QCOMPARE(statistics->headerData(moduleRow, Qt::Vertical).toString(),
             QStringLiteral("Module 4"));
    QVERIFY(statistics->index(moduleRow, 1).data().toInt() >= 2);
    QCOMPARE(statistics->index(moduleRow, 2).data().toInt(), 0);
    panel->findChild<QDoubleSpinBox *>(QStringLiteral("doubleSpinBoxBusTemperatureTolerance"))
        ->setValue(3.0);
    QVERIFY(!model->isMarked(2, BusTableModel::Temperature));
    QVERIFY(model->isMarked(2, BusTableModel::Humidity));

    // Stop hands the port back, and the main window polls again as it did.
    poll->click();
    QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, patientMs);
    // The bus's own socket may still be a child of the window until its deferred delete.
    QTRY_VERIFY(linked());
    QTRY_COMPARE(read->text(), QStringLiteral("Stop"));
    QCOMPARE(poll->text(), QStringLiteral("Poll bus"));
    // Lent and taken back on purpose: no box said the link was lost.
    QVERIFY2(answerer.others.isEmpty(), qPrintable(answerer.others.join(QLatin1Char('\n'))));

    // Save CSV: every module's rows, in time order, each with its address.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bus.csv"));
    fixture.watcher()->setDialogHandler([path](QDialog *dialog) {
        if (auto *files = qobject_cast<QFileDialog *>(dialog))
            files->selectFile(path);
        dialog->accept();
    });
    panel->window()->findChild<QPushButton *>(QStringLiteral("pushButtonSaveCsv"))->click();
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = saved.readAll().split('\n');
    std::map<int, int> rowsOf;
    for (int i = 1; i < rows.size() && !rows[i].isEmpty(); ++i) {
        rowsOf[rows[i].split(',').value(2).toInt()] += 1;
        QVERIFY(i == 1 || rows[i].left(24) >= rows[i - 1].left(24));
    }
    for (int address = 1; address <= 4; ++address)
        QVERIFY2(rowsOf[address] >= 2, qPrintable(QString::number(address)));
}

QTEST_MAIN(TestBusView)
#include "tst_busview.moc"
