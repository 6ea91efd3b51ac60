#include "host/SPModbus.h"
