#include "protocol/uartdata.h"

UartRecord UartData;
