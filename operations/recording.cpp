// The module's on-board recording configuration: the Record group.
#include "app/widget.h"

#include "app/clock.h"
#include "protocol/tables.h"
#include "ui_widget.h"

#include <QButtonGroup>

namespace {
// Entry of the start-mode box that starts recording at the start time.
constexpr int startAtTime = 1;
// A fresh start time lies this far ahead, so that "Timing Start" is usable at once.
constexpr qint64 initialStartDelaySeconds = 300;
} // namespace

void Widget::PushButtonReadRecordSlot() {}

void Widget::PushButtonSetupRecordSlot() {}

void Widget::SendUartRecordOrder() {}

void Widget::TimerDelaySlot() {}

void Widget::timerSettingResponseSlot() {}

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

void Widget::showRecordSettings() {}

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
