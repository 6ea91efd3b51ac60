// The baud rates the host accepts are exactly the termios rates libmodbus
// sets a serial line to: each rate is tried on a pseudo-terminal and the
// line's speed read back. Under an emulator, rates whose termios speed the
// emulator cannot carry to the kernel (qemu-user: none above 460800) cannot
// be tried; the test checks the others and then reports itself skipped,
// naming them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "cli/options/exit_status.h"
#include "cli/options/value_parsing.h"
#include "tests/support/child_process.h"

namespace velmocair::cli {
namespace {

struct TermiosRate {
  int rate;
  speed_t speed;
};

// clang-format off
// rate     termios speed
constexpr TermiosRate kTermiosRates[] = {
    {     50, B50},      {     75, B75},      {    110, B110},     {    134, B134},
    {    150, B150},     {    200, B200},     {    300, B300},     {    600, B600},
    {   1200, B1200},    {   1800, B1800},    {   2400, B2400},    {   4800, B4800},
    {   9600, B9600},    {  19200, B19200},   {  38400, B38400},   {  57600, B57600},
    { 115200, B115200},  { 230400, B230400},  { 460800, B460800},  { 500000, B500000},
    { 576000, B576000},  { 921600, B921600},  {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};
// clang-format on

// The speed libmodbus leaves on a line it opened at `rate`; B0 when it
// could not open it.
speed_t speed_libmodbus_sets(int rate) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    return B0;
  }
  const std::string device = ptsname(master);
  speed_t speed = B0;
  modbus_t* context = modbus_new_rtu(device.c_str(), rate, 'N', 8, 1);
  if (context != nullptr && modbus_connect(context) == 0) {
    termios line{};
    if (tcgetattr(modbus_get_socket(context), &line) == 0) {
      speed = cfgetospeed(&line);
    }
    modbus_close(context);
  }
  modbus_free(context);
  close(master);
  return speed;
}

// True when a pseudo-terminal set to `speed` directly reads it back.
bool line_keeps(speed_t speed) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    return false;
  }
  termios line{};
  const bool kept = tcgetattr(master, &line) == 0 && cfsetospeed(&line, speed) == 0 &&
                    tcsetattr(master, TCSANOW, &line) == 0 && tcgetattr(master, &line) == 0 &&
                    cfgetospeed(&line) == speed;
  close(master);
  return kept;
}

TEST(BaudRates, AreTheTermiosRatesLibmodbusSetsTheLineTo) {
  std::string not_carried;
  for (const TermiosRate& termios_rate : kTermiosRates) {
    if (testing::under_emulation() && !line_keeps(termios_rate.speed)) {
      not_carried += " " + std::to_string(termios_rate.rate);
      continue;
    }
    const speed_t set = speed_libmodbus_sets(termios_rate.rate);
    ASSERT_NE(set, B0) << termios_rate.rate << ": the pseudo-terminal did not open";
    EXPECT_EQ(is_baud_rate(termios_rate.rate), set == termios_rate.speed)
        << termios_rate.rate << " baud: "
        << (set == termios_rate.speed ? "libmodbus sets it, the host refuses it"
                                      : "libmodbus sets another rate, the host accepts it");
  }
  if (!not_carried.empty()) {
    GTEST_SKIP() << testing::launcher().front()
                 << " does not carry these rates to the pseudo-terminal (it reads back 0 baud), "
                    "so they were not tried:"
                 << not_carried;
  }
}

TEST(BaudRates, ParseOnlyThoseRates) {
  EXPECT_EQ(parse_baud("9600", "--baud"), 9600);
  EXPECT_EQ(parse_baud("4000000", "--baud"), 4000000);
  for (const char* refused : {"12345", "0", "-9600", "9600x", "", "-4294957696", "2000000"}) {
    EXPECT_THROW(parse_baud(refused, "--baud"), UsageError) << "'" << refused << "'";
  }
}

}  // namespace
}  // namespace velmocair::cli
