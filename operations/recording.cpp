// The module's on-board recording configuration: the Record group.
#include "app/widget.h"

#include "app/clock.h"
#include "app/timing.h"
#include "protocol/frames.h"
#include "protocol/logging.h"
#include "protocol/tables.h"
#include "protocol/uartdata.h"
#include "ui_widget.h"

#include <QButtonGroup>
#include <QTimer>

#include <optional>

namespace {
// Entry of the start-mode box that starts recording at the start time.
constexpr int startAtTime = 1;
// A fresh start time lies this far ahead, so that "Timing Start" is usable at once.
constexpr qint64 initialStartDelaySeconds = 300;
// How UartData.StartTime holds the start time: local time, whole seconds.
const QString startTimeFormat = QString::fromLatin1(frames::startTimeFormat);

// The time as the module's unsigned 32-bit seconds, or nothing when that field cannot hold it.
std::optional<quint32> moduleSeconds(const QDateTime &dateTime)
{
    const qint64 seconds = frames::toModuleSeconds(dateTime);
    if (seconds < 0)
        return std::nullopt;
    return quint32(seconds);
}

} // namespace

void Widget::PushButtonReadRecordSlot()
{
    writeRequest(protocol::RequestKind::ReadRecording, frames::readRecordConfigRequest());
    responseTimer->start(withLinkMargin(timing::replyDeadline));
    UartData.ResponseFlag = false;
    humitureTimer->start(timing::pollPauseAfterRecordCommand);
    ui->pushButtonReadRecord->setEnabled(false);
    ui->pushButtonSetup->setEnabled(false);
    delayTimer->start(timing::recordButtonsLockout);
}

void Widget::PushButtonSetupRecordSlot()
{
    UartData.RecordMode = ui->radioButtonRealmonitoring->isChecked()
                              ? quint8(protocol::RealtimeMonitoringOnly)
                              : quint8(ui->recmodecomboBox->currentIndex() + 1);
    UartData.StartTime = ui->dateTimeEditstarttime->dateTime().toString(startTimeFormat);

    if (!frames::startTimeAccepted(QDateTime::fromString(UartData.StartTime, startTimeFormat),
                                   appclock::now())) {
        showMessage(tr("Error"), tr("Time setting error!"));
        return;
    }

    UartData.SampleInterval = currentSampleInterval();
    qCDebug(lcModule) << "StartTime" << UartData.StartTime;
    qCDebug(lcModule) << "RecordMode" << int(UartData.RecordMode);
    SendUartRecordOrder();
    humitureTimer->start(timing::pollPauseAfterRecordCommand);
    ui->pushButtonReadRecord->setEnabled(false);
    ui->pushButtonSetup->setEnabled(false);
    delayTimer->start(timing::recordButtonsLockout);
}

void Widget::SendUartRecordOrder()
{
    const QDateTime startDateTime = QDateTime::fromString(UartData.StartTime, startTimeFormat);
    const auto now = moduleSeconds(appclock::now());
    const auto start = moduleSeconds(startDateTime);
    qCDebug(lcModule) << "start" << startDateTime;
    // The caller has checked both; only a clock leaving the field's range in between gets here.
    if (!now || !start)
        return;
    qCDebug(lcModule) << "timesec" << *now;
    qCDebug(lcModule) << "starttime" << *start;

    writeRequest(protocol::RequestKind::WriteRecording,
                 frames::writeRecordConfigRequest(*now, UartData.RecordMode,
                                                  UartData.SampleInterval, *start));
    settingResponseTimer->start(withLinkMargin(timing::settingReplyDeadline));
    UartData.SettingFlag = false;
}

void Widget::TimerDelaySlot()
{
    delayTimer->stop();
    ui->pushButtonSetup->setEnabled(true);
    ui->pushButtonReadRecord->setEnabled(true);
}

void Widget::timerSettingResponseSlot()
{
    settingResponseTimer->stop();
    if (UartData.SettingFlag)
        showMessage(tr("Succeed"), tr("Setting succeed!"));
    else
        showMessage(tr("Failed"), tr("Setting failed, please try again!"));
}

int Widget::currentSampleInterval() const
{
    return protocol::sampleIntervalSeconds.at(std::size_t(ui->sample_ratecomboBox->currentIndex()));
}

void Widget::RecModeSelect()
{
    if (ui->radioButtonRecord->isChecked()) {
        ui->recmodecomboBox->setEnabled(true);
        ui->sample_ratecomboBox->setEnabled(true);
        if (ui->recmodecomboBox->currentIndex() == startAtTime)
            ui->dateTimeEditstarttime->setEnabled(true);
    } else {
        ui->recmodecomboBox->setEnabled(false);
        ui->sample_ratecomboBox->setEnabled(false);
        ui->dateTimeEditstarttime->setEnabled(false);
    }
}

void Widget::ModeSelect(int index)
{
    ui->dateTimeEditstarttime->setEnabled(index == startAtTime);
}

void Widget::showRecordSettings()
{
    switch (UartData.RecordMode) {
    case protocol::RecordAfterSetup:
        ui->radioButtonRecord->setChecked(true); // the exclusive group unchecks the other
        ui->recmodecomboBox->setCurrentIndex(0);
        ui->dateTimeEditstarttime->setEnabled(false);
        break;
    case protocol::RecordTimingStart:
        ui->radioButtonRecord->setChecked(true);
        ui->recmodecomboBox->setCurrentIndex(startAtTime);
        ui->dateTimeEditstarttime->setEnabled(true);
        break;
    default:
        // Modes 0 and 3 leave the work-mode selection as it is: the exclusive group keeps
        // one button checked.
        ui->dateTimeEditstarttime->setEnabled(false);
        break;
    }
    RecModeSelect();
    if (const auto entry = protocol::sampleIntervalIndex(UartData.SampleInterval))
        ui->sample_ratecomboBox->setCurrentIndex(*entry);
}

void Widget::initRecordControls()
{
    workModeGroup = new QButtonGroup(this);
    workModeGroup->addButton(ui->radioButtonRecord, 0);
    workModeGroup->addButton(ui->radioButtonRealmonitoring, 1);
    ui->radioButtonRecord->setChecked(true);
    ui->dateTimeEditstarttime->setEnabled(false);
    // Whole seconds: the module's times carry no fraction.
    const qint64 now = appclock::now().toSecsSinceEpoch();
    ui->dateTimeEditstarttime->setDateTime(
        QDateTime::fromSecsSinceEpoch(now + initialStartDelaySeconds));
    RecModeSelect();
}
