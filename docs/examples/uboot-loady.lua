-- Stops U-Boot's autoboot, loads an image into the board's RAM over YMODEM
-- with `loady`, and checks that U-Boot took all of it.
--
--   IMAGE=build/zImage quorvel --script uboot-loady.lua --baud 115200 /dev/ttyUSB0
--
-- IMAGE names the file to send (image.bin unless told), LOAD_ADDR where it
-- goes (0x82000000 unless told). Power the board on (or reset it) just
-- before or after starting: the script waits 30 s for the countdown.

local image = os.getenv("IMAGE") or "image.bin"
local address = os.getenv("LOAD_ADDR") or "0x82000000"

local file = assert(io.open(image, "rb"), "cannot open the image " .. image)
local size = file:seek("end")
file:close()

-- Any key stops the countdown; U-Boot then prompts with "=> ".
if not check(expect("Hit any key to stop autoboot", 30000), "autoboot countdown") then
  fail("no U-Boot countdown: is the board powered and the rate right?")
end
send(" ")
check(expect("=> ", 5000), "U-Boot prompt")

send("loady " .. address, {ending = "cr"})
check(expect("Ready for binary %(ymodem%) download", 5000), "loady is ready")
local sent, why = transfer{send = image, protocol = "ymodem"}
if not check(sent, "image sent by YMODEM") then
  fail("YMODEM: " .. why)
end

-- U-Boot reports what it received, in hex and in decimal.
local _, hex = expect("## Total Size%s*= 0x(%x+) =", 10000)
check(hex and tonumber(hex, 16) == size,
      string.format("U-Boot took all %d bytes", size))
check(expect("=> ", 5000), "back at the prompt")
log("loaded " .. image .. " at " .. address)
