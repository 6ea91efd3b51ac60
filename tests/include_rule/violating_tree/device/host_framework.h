#ifdef VELMOCAIR_HOST_FRAMEWORK_HEADER
#include VELMOCAIR_HOST_FRAMEWORK_HEADER
#else
#include "host/SPModbus.h"
#endif
