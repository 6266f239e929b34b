// The module's type and serial number.
#include "app/widget.h"

#include "ui_widget.h"

void Widget::PushButtonReadSNSlot() {}

void Widget::PushButtonAUTOSetupSlot() {}

void Widget::PushButtonMANUSetupSlot() {}

void Widget::SendUartSNOrder() {}

void Widget::showDeviceInfo() {}
