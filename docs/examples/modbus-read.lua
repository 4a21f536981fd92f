-- Reads two holding registers of a Modbus RTU unit and checks the reply:
-- its length, its CRC (computed here, apart from the one the send added),
-- and what the registers hold.
--
--   quorvel --script modbus-read.lua --baud 9600 /dev/ttyUSB0
--
-- UNIT is the unit's address (1 unless told). Against the demo device
-- (quorvel-devsim --demo), register 0 is a temperature in tenths of a
-- degree and register 1 holds 1.

local unit = tonumber(os.getenv("UNIT") or "1")

-- CRC-16/MODBUS: polynomial 0xA001 (reflected), from 0xFFFF.
local function crc16(bytes)
  local crc = 0xFFFF
  for i = 1, #bytes do
    crc = crc ~ bytes:byte(i)
    for _ = 1, 8 do
      crc = (crc & 1) ~= 0 and ((crc >> 1) ~ 0xA001) or (crc >> 1)
    end
  end
  return crc
end

-- Function 3, from register 0, two registers; the send adds the CRC.
send_hex(string.format("%02X 03 00 00 00 02", unit), {check = "modbus-crc16"})
-- Unit, function, 4 data bytes, 2 CRC bytes: 9 bytes in all.
local reply = expect({hex = string.format("%02X 03 04 ?? ?? ?? ?? ?? ??", unit)}, 2000)
if not check(reply, "a reply from unit " .. unit) then
  fail("no reply (a wrong rate or unit, or an exception reply)")
end

local crc = string.unpack("<I2", reply, #reply - 1)
check(crc16(reply:sub(1, -3)) == crc, string.format("the reply's CRC %04X", crc))

local temperature, second = string.unpack(">i2I2", reply, 4)
print(string.format("register 0: %d (%.1f degrees), register 1: %d",
                    temperature, temperature / 10, second))
check(temperature > -400 and temperature < 1250, "a plausible temperature")
