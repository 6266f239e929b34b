#pragma once

#include <QDialog>
#include <QSet>

class PortWatcher;
struct PortEntry;

QT_BEGIN_NAMESPACE
namespace Ui {
class SerialportSettingDialog;
}
QT_END_NAMESPACE

// Picks the port and line speed of the next link and stores them in UartData on OK.
// Constructing it also resets the automatic probe. While it is open, its port list follows the
// adapters that are plugged in and pulled out.
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
    void followPorts();
    void addOpenablePort(const PortEntry &port);
    void showChoiceToolTip();
    void showLinkKind();
    QString toolTipOf(const PortEntry &port) const;

    Ui::SerialportSettingDialog *ui;
    PortWatcher *portWatcher;
    QSet<QString> knownPorts; // listed or refused: either way never opened again
};
