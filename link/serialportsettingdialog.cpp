#include "link/serialportsettingdialog.h"

#include "protocol/tables.h"
#include "protocol/uartdata.h"
#include "ui_serialportsettingdialog.h"

#include <QSerialPort>
#include <QSerialPortInfo>

#include <algorithm>

namespace {
// Entry of the baud box that asks for the automatic probe rather than a fixed speed; the
// entries after it list the speeds of protocol::baudCodeSpeeds in the same order.
constexpr int autoBaudEntry = 0;

// Speed of a baud-box entry, 0 for "AUTO". Decided by the index, so a translated entry text
// never turns a fixed speed into a probe.
int speedOfBaudEntry(int entry)
{
    if (entry <= autoBaudEntry || entry > int(protocol::baudCodeSpeeds.size()))
        return 0;
    return protocol::baudCodeSpeeds[std::size_t(entry - 1)];
}
} // namespace

SerialportSettingDialog::SerialportSettingDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::SerialportSettingDialog)
{
    ui->setupUi(this);
    setWindowTitle(tr("Serial port"));
    fillPortNames();

    std::copy(protocol::probeSpeeds.begin(), protocol::probeSpeeds.end(), UartData.BaudTable);
    UartData.BaudIndex = 0;
    UartData.BaudCount = quint8(protocol::probeSpeeds.size());

    ui->comboBoxBaud->setCurrentIndex(autoBaudEntry);
    connect(ui->pushButtonOK, &QPushButton::clicked, this,
            &SerialportSettingDialog::ClickedOKSlots);
    connect(ui->pushButtonCancel, &QPushButton::clicked, this,
            &SerialportSettingDialog::ClickedCancelSlots);
}

SerialportSettingDialog::~SerialportSettingDialog()
{
    delete ui;
}

void SerialportSettingDialog::fillPortNames()
{
    // Only ports that can be opened right now: one in use by another program is left out.
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        QSerialPort probe;
        probe.setPort(info);
        if (probe.open(QIODevice::ReadWrite)) {
            ui->comboBoxName->addItem(info.portName());
            probe.close();
        }
    }
}

void SerialportSettingDialog::ClickedCancelSlots()
{
    reject();
}

void SerialportSettingDialog::ClickedOKSlots()
{
    // The box is editable: a typed device path (a pseudo-terminal, /dev/serial/by-id/...) counts.
    UartData.PortName = ui->comboBoxName->currentText();
    UartData.BaudRate = speedOfBaudEntry(ui->comboBoxBaud->currentIndex());
    UartData.Parity = ui->comboBoxParity->currentIndex();
    UartData.DataBits = ui->comboBoxData->currentText().toInt();
    UartData.StopBits = ui->comboBoxStop->currentText().toInt();
    accept();
}
