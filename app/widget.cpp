#include "app/widget.h"

#include "app/buildstamp.h"
#include "app/exchangelogmenu.h"
#include "ui_widget.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>

namespace {
// Entry of the baud-rate box the window starts with: "9600".
constexpr int initialBaudRateIndex = 3;
} // namespace

Widget::Widget(QWidget *parent) : QWidget(parent), ui(new Ui::Widget)
{
    ui->setupUi(this);
    qRegisterMetaType<protocol::RequestKind>();
    qRegisterMetaType<protocol::Reply>();

    versionSuffix = makeVersionSuffix(BuildDate, BuildTime);
    setWindowTitle(tr("Quorvel") + QLatin1String("  ") + versionSuffix);

    serialPort = new QSerialPort(this);
    clearTimer = new QTimer(this);
    responseTimer = new QTimer(this);
    humitureTimer = new QTimer(this);
    autoBaudTimer = new QTimer(this);
    delayTimer = new QTimer(this);
    settingResponseTimer = new QTimer(this);
    // The module's deadlines, the silence and the poll's rhythm are a contract: a coarse timer
    // may fire up to 5 % early and report "Communication error!" for a reply that came in time.
    for (QTimer *timer :
         {clearTimer, responseTimer, humitureTimer, autoBaudTimer, settingResponseTimer})
        timer->setTimerType(Qt::PreciseTimer);

    ui->comboBoxBaudRate->setCurrentIndex(initialBaudRateIndex);
    ui->dateTimeEditstarttime->setDisplayFormat(QStringLiteral("yyyy/MM/dd hh:mm:ss"));
    ui->textBrowser->document()->setMaximumBlockCount(exchangeLogMaxLines);

    // Made after setupUi, so that the form filling its combo boxes runs no handler.
    connect(ui->pushButtonLink, &QPushButton::clicked, this, &Widget::PushButtonLinkSlot);
    connect(ui->pushButtonClose, &QPushButton::clicked, this, &Widget::PushButtonCloseSlot);
    connect(ui->pushButtonRead, &QPushButton::clicked, this, &Widget::PushButtonReadSlot);
    connect(ui->pushButtonAddress, &QPushButton::clicked, this, &Widget::PushButtonAddressSlot);
    connect(ui->pushButtonBaudRate, &QPushButton::clicked, this, &Widget::PushButtonBaudRateSlot);
    connect(ui->pushButtonAddressRead, &QPushButton::clicked, this,
            &Widget::PushButtonAddressReadSlot);
    connect(ui->pushButtonReadSN, &QPushButton::clicked, this, &Widget::PushButtonReadSNSlot);
    connect(ui->pushButtonAUTO, &QPushButton::clicked, this, &Widget::PushButtonAUTOSetupSlot);
    connect(ui->pushButtonMANU, &QPushButton::clicked, this, &Widget::PushButtonMANUSetupSlot);
    connect(ui->pushButtonReadRecord, &QPushButton::clicked, this,
            &Widget::PushButtonReadRecordSlot);
    connect(ui->pushButtonSetup, &QPushButton::clicked, this, &Widget::PushButtonSetupRecordSlot);
    connect(ui->radioButtonRecord, &QRadioButton::clicked, this, &Widget::RecModeSelect);
    connect(ui->radioButtonRealmonitoring, &QRadioButton::clicked, this, &Widget::RecModeSelect);
    connect(ui->recmodecomboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &Widget::ModeSelect);
    connect(clearTimer, &QTimer::timeout, this, &Widget::TimerClearSlot);
    connect(responseTimer, &QTimer::timeout, this, &Widget::TimerResponseSlot);
    connect(humitureTimer, &QTimer::timeout, this, &Widget::ReadHumitureOrder);
    connect(autoBaudTimer, &QTimer::timeout, this, &Widget::AUTOUartInit);
    connect(delayTimer, &QTimer::timeout, this, &Widget::TimerDelaySlot);
    connect(settingResponseTimer, &QTimer::timeout, this, &Widget::timerSettingResponseSlot);
    // A pulled adapter must not go unnoticed while a poll keeps showing the last values.
    connect(serialPort, &QSerialPort::errorOccurred, this, &Widget::handlePortError);
    connect(ui->pushButtonMonitor, &QPushButton::clicked, this, &Widget::monitorRequested);
    new ExchangeLogMenu(ui->textBrowser); // owned by the pane
    setUpReconnect();
    setUpNetworkLink();

    initRecordControls();
}

Widget::~Widget()
{
    delete ui;
}

void Widget::PushButtonCloseSlot()
{
    // The port closes with the window, when main() returns.
    QCoreApplication::quit();
}

void Widget::showMessage(const QString &title, const QString &text)
{
    QMessageBox::information(this, title, text);
}
