#pragma once

// Exception replies of the Modbus protocol, known once for the host.
namespace modbus_exception {

// Set in a reply's function code: the reply is an exception, its one data
// byte the exception code.
inline constexpr unsigned char kFlag = 0x80;

// Codes a gateway answers with for the unit behind it.
inline constexpr unsigned char kGatewayPathUnavailable = 0x0A;
inline constexpr unsigned char kGatewayTargetFailedToRespond = 0x0B;

}  // namespace modbus_exception
