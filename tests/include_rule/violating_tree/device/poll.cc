#include "host/SPModbus.h"
#include VELMOCAIR_HOST_FRAMEWORK_HEADER
