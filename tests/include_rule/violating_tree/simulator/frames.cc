#include "host/services/adu.h"
#include "tests/support/child_process.h"
