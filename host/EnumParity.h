#pragma once

// Parity of a serial frame sent with ORBSPDevice::SendParityData.
enum EnumParity { PARITY_NONE, PARITY_ODD, PARITY_EVEN, PARITY_MARK, PARITY_SPACE };
