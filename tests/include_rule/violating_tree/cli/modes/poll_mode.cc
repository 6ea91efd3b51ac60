#include "cli/history/history_reading.h"
#include "cli/scan/bus_scanner.h"
#include "device/Velmocair_Data_t.h"
