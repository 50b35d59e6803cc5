// Hardware facts that the compatibility rules consult: the model name, whether the PoE
// controller is an IR808AR, the identifier of the Ethernet PHY, and one byte of an I2C device.
// On the recorder they come from the model query ("/proc/device-tree/model"), "/dev/i2c-0" and
// the MDIO controller mapped through "/dev/mem". In a sandbox they come from files under
// "$NVR_ROOT/etc/hw/": `model` (first line), `ir808ar` (present = an IR808AR answers), `phy_id`
// (hex), `i2c_42_67` (hex byte); a missing file takes the failure path of an unreadable device,
// with the same messages.
#pragma once
#include <cstddef>

// Model name, the first line of the model query, at most 63 characters (and len - 1). 0 / -1
// (buf then "").
int hw_get_model(char *buf, size_t len);

// Probes the PoE controller (I2C device 0xE0 on bus 0, 8-bit register and data width) and prints
// "pse is ir808ar!!!" or "pse is not ir808ar!!!". true when an IR808AR answered.
bool hw_pse_is_ir808ar();

// Register 2 of the Ethernet PHY at MDIO address 4, or -1 (after "Fail to open /dev/mem
// fd=%08x" or "mmap phyaddr %#x failed ! ").
int hw_read_phy_id();

// One byte from register `reg` of I2C device `addr` on "/dev/i2c-0", or -1 (after "Unable to
// open i2c bus 2!!!" or "read addr 0x%x error. "). The sandbox answers only device 0x42 register
// 67 (file i2c_42_67); other registers read as errors.
int hw_read_i2c_byte(int addr, int reg);
