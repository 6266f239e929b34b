// The live-value poll and its display.
#include "app/widget.h"

#include "ui_widget.h"

void Widget::PushButtonReadSlot() {}

void Widget::ReadHumitureOrder() {}

void Widget::showMeasurement(bool withWetBulb)
{
    Q_UNUSED(withWetBulb)
}
