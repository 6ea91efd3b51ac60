#pragma once

// The host framework's headers: the one place the plug-in names them. The
// plug-in uses the device and provider base classes and get_ttime from them,
// and relies on nothing else of the host. A build against another declaration
// of the framework (the site host's own headers) names a header of it that
// declares all of these in VELMOCAIR_HOST_FRAMEWORK_HEADER instead.
#ifdef VELMOCAIR_HOST_FRAMEWORK_HEADER
#include VELMOCAIR_HOST_FRAMEWORK_HEADER
#else
#include "host/Provider.h"
#include "host/SPModbus.h"
#include "host/ttime.h"
#endif
