#pragma once

#include <QDialog>

QT_BEGIN_NAMESPACE
namespace Ui {
class SerialportSettingDialog;
}
QT_END_NAMESPACE

// Picks the port and line speed of the next link and stores them in UartData on OK.
// Constructing it also resets the automatic probe.
class SerialportSettingDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SerialportSettingDialog(QWidget *parent = nullptr);
    ~SerialportSettingDialog() override;

private slots:
    void ClickedCancelSlots();
    void ClickedOKSlots();

private:
    void fillPortNames();

    Ui::SerialportSettingDialog *ui;
};
