// The module's type and serial number.
#include "app/widget.h"

#include "app/clock.h"
#include "app/timing.h"
#include "protocol/frames.h"
#include "protocol/tables.h"
#include "protocol/uartdata.h"
#include "ui_widget.h"

#include <QTimer>

void Widget::PushButtonReadSNSlot()
{
    writeRequest(protocol::RequestKind::DeviceInfo, frames::readDeviceInfoRequest());
    responseTimer->start(withLinkMargin(timing::replyDeadline));
    UartData.ResponseFlag = false;
    humitureTimer->start(timing::pollPeriod);
}

void Widget::PushButtonAUTOSetupSlot()
{
    // After a device-information reply of an unknown model the type box is empty, and its
    // index -1 would write model byte 0x1F into the module.
    if (ui->comboBoxType->currentIndex() < 0) {
        showMessage(tr("Error"), tr("Please select the device type!"));
        return;
    }
    UartData.SerialNumber = frames::clockSerialNumber(appclock::now());
    UartData.ModelCode = quint8(protocol::modelCodeBase + ui->comboBoxType->currentIndex());
    SendUartSNOrder();
    humitureTimer->start(timing::pollPeriod);
}

void Widget::PushButtonMANUSetupSlot()
{
    if (ui->comboBoxType->currentIndex() < 0) {
        showMessage(tr("Error"), tr("Please select the device type!"));
        return;
    }
    // Taken as typed: the module accepts any text, read as six decimal pairs.
    UartData.SerialNumber = ui->lineEditSN->text();
    UartData.ModelCode = quint8(protocol::modelCodeBase + ui->comboBoxType->currentIndex());
    SendUartSNOrder();
    humitureTimer->start(timing::pollPeriod);
}

void Widget::SendUartSNOrder()
{
    writeRequest(protocol::RequestKind::WriteSerialNumber,
                 frames::writeSerialNumberRequest(UartData.ModelCode, UartData.SerialNumber));
    responseTimer->start(withLinkMargin(timing::serialNumberReplyDeadline));
    UartData.ResponseFlag = false;
}

void Widget::showDeviceInfo()
{
    // A model number the box does not list leaves it without a current entry.
    const int entry = UartData.LoggerModel - protocol::firstModelNumber;
    ui->comboBoxType->setCurrentIndex(entry >= 0 && entry < ui->comboBoxType->count() ? entry : -1);
    ui->lineEditSN->setText(UartData.SerialNumber);
}
