#include "link/serialportsettingdialog.h"

#include "link/portwatcher.h"
#include "protocol/portname.h"
#include "protocol/tables.h"
#include "protocol/uartdata.h"
#include "ui_serialportsettingdialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QMessageBox>
#include <QSerialPort>

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
    : QDialog(parent), ui(new Ui::SerialportSettingDialog), portWatcher(new PortWatcher(this))
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
    connect(portWatcher, &PortWatcher::portsChanged, this, &SerialportSettingDialog::followPorts);
    connect(ui->comboBoxName, &QComboBox::currentTextChanged, this,
            &SerialportSettingDialog::showChoiceToolTip);
    connect(ui->comboBoxName, &QComboBox::currentTextChanged, this,
            &SerialportSettingDialog::showLinkKind);
    // No system lists a converter: the one of the last link is offered again as typed.
    if (protocol::parsePortName(UartData.PortName).isNetwork())
        ui->comboBoxName->setEditText(UartData.PortName);
    showChoiceToolTip();
    // The margin of the last network link, while the program runs.
    if (UartData.NetworkMarginMs > 0)
        ui->spinBoxMargin->setValue(UartData.NetworkMarginMs);
    showLinkKind();
}

SerialportSettingDialog::~SerialportSettingDialog()
{
    delete ui;
}

void SerialportSettingDialog::fillPortNames()
{
    // The port of the previous link, when it was typed as a path that the system does not list
    // (a symbolic link, a pseudo-terminal), is offered again for as long as it exists.
    if (UartData.PortName.contains(QLatin1Char('/')))
        portWatcher->setExtraPaths({UartData.PortName});
    portWatcher->start();
    const auto ports = portWatcher->ports();
    for (const PortEntry &port : ports)
        addOpenablePort(port);
}

void SerialportSettingDialog::followPorts()
{
    QComboBox *box = ui->comboBoxName;
    // The operator's pick, or the path being typed, stays as it is while entries come and go.
    const QString chosen = box->currentText();
    const auto ports = portWatcher->ports();
    QSet<QString> present;
    for (const PortEntry &port : ports)
        present.insert(port.name);
    for (int entry = box->count() - 1; entry >= 0; --entry) {
        if (!present.contains(box->itemText(entry))) {
            qCDebug(lcPorts) << "gone:" << box->itemText(entry);
            box->removeItem(entry);
        }
    }
    knownPorts.intersect(present); // pulled and plugged in again: a new port
    for (const PortEntry &port : ports) {
        if (!knownPorts.contains(port.name))
            addOpenablePort(port);
    }
    if (box->currentText() != chosen)
        box->setEditText(chosen);
    showChoiceToolTip();
}

void SerialportSettingDialog::showChoiceToolTip()
{
    // The closed box tells about the port it shows, picked or typed, while that port is listed.
    const int entry = ui->comboBoxName->findText(ui->comboBoxName->currentText());
    ui->comboBoxName->setToolTip(
        entry < 0 ? QString() : ui->comboBoxName->itemData(entry, Qt::ToolTipRole).toString());
}

void SerialportSettingDialog::addOpenablePort(const PortEntry &port)
{
    // Only ports that can be opened right now: one in use by another program is left out.
    // Opening toggles the modem lines, and some boards reset on it, so each port that appears
    // is tried once, listed or not.
    knownPorts.insert(port.name);
    QSerialPort probe;
    probe.setPortName(port.name);
    if (!probe.open(QIODevice::ReadWrite)) {
        qCDebug(lcPorts) << "not listed, it does not open:" << port.name;
        return;
    }
    probe.close();
    ui->comboBoxName->addItem(port.name);
    ui->comboBoxName->setItemData(ui->comboBoxName->count() - 1, toolTipOf(port), Qt::ToolTipRole);
    qCDebug(lcPorts) << "listed:" << port.name;
}

QString SerialportSettingDialog::toolTipOf(const PortEntry &port) const
{
    const auto known = [](const QString &text) {
        return text.isEmpty() ? QStringLiteral("\u2013") : text;
    };
    const auto hex = [](quint16 id) {
        return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
    };
    QStringList lines{
        tr("Device: %1").arg(port.location),
        tr("Description: %1").arg(known(port.description)),
        tr("Manufacturer: %1").arg(known(port.manufacturer)),
        tr("Serial number: %1").arg(known(port.serialNumber)),
        tr("VID:PID: %1")
            .arg(port.hasUsbIds ? hex(port.vendorId) + QLatin1Char(':') + hex(port.productId)
                                : known(QString())),
    };
#ifdef Q_OS_LINUX
    lines << tr("By id: %1").arg(known(port.byIdPath));
#endif
    return lines.join(QLatin1Char('\n'));
}

void SerialportSettingDialog::ClickedCancelSlots()
{
    reject();
}

void SerialportSettingDialog::showLinkKind()
{
    // The speed belongs to the converter's serial side, so the box would promise what a network
    // link cannot do; the margin means nothing on a serial port.
    const bool network = protocol::parsePortName(ui->comboBoxName->currentText()).isNetwork();
    ui->comboBoxBaud->setEnabled(!network);
    ui->spinBoxMargin->setEnabled(network);
    ui->labelNetworkNote->setText(
        network ? tr("A network link: the line speed is set on the converter (serial side 8N1), "
                     "so the speed box has no meaning and nothing is probed.")
                : QString());
    ui->labelNetworkNote->setVisible(network);
}

void SerialportSettingDialog::ClickedOKSlots()
{
    const protocol::PortName name = protocol::parsePortName(ui->comboBoxName->currentText());
    // An empty box goes on as it always has; a malformed address is sent back to be mended.
    if (!name.isValid() && !ui->comboBoxName->currentText().trimmed().isEmpty()) {
        QMessageBox::information(this, tr("Error"),
                                 QCoreApplication::translate("PortName", name.problem));
        return;
    }
    UartData.NetworkMarginMs = ui->spinBoxMargin->value();
    if (name.isValid() && name.isNetwork()) {
        UartData.PortName = name.displayName();
        UartData.BaudRate = 0;
        accept();
        return;
    }
    // The box is editable: a typed device path (a pseudo-terminal, /dev/serial/by-id/...) counts.
    UartData.PortName = ui->comboBoxName->currentText();
    UartData.BaudRate = speedOfBaudEntry(ui->comboBoxBaud->currentIndex());
    UartData.Parity = ui->comboBoxParity->currentIndex();
    UartData.DataBits = ui->comboBoxData->currentText().toInt();
    UartData.StopBits = ui->comboBoxStop->currentText().toInt();
    accept();
}
