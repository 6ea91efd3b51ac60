#include "cli/options/parse.h"

#include "cli/runtime/host_runtime.h"
#include "common/text.h"
#include "host/services/bus_address.h"
