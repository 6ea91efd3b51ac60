#ifndef SITE_FRAMEWORK_H
#define SITE_FRAMEWORK_H

// Everything a device plug-in derives from or calls.
#include "site_framework/calendar_time.h"
#include "site_framework/device_providers.h"
#include "site_framework/modbus_master.h"

#endif
