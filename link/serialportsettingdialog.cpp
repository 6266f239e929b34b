#include "link/serialportsettingdialog.h"

#include "ui_serialportsettingdialog.h"

SerialportSettingDialog::SerialportSettingDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::SerialportSettingDialog)
{
    ui->setupUi(this);
    setWindowTitle(tr("Serial port"));
}

SerialportSettingDialog::~SerialportSettingDialog()
{
    delete ui;
}

void SerialportSettingDialog::fillPortNames() {}

void SerialportSettingDialog::ClickedCancelSlots()
{
    reject();
}

void SerialportSettingDialog::ClickedOKSlots()
{
    accept();
}
