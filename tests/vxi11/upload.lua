-- A block of 3 MiB uploaded with TRAC:DATA and read back, then the error queue: one link.
-- lxi sends commands as C strings, and reads after a '?': the data has neither 0 nor '?'.
local device = lxi_connect("127.0.0.1", 0, "inst0", 10000, "VXI11")
local parts = {}
for i = 0, 3 * 1024 * 1024 - 1 do parts[#parts + 1] = string.char(64 + (i * 7) % 190) end
local block = "#7" .. string.format("%07d", #parts) .. table.concat(parts)
lxi_scpi(device, "WAV:FORM INT,16;:TRAC:DATA " .. block)
print(lxi_scpi_raw(device, "TRAC:DATA?") == block .. "\n" and "read back whole" or "read back differs")
lxi_scpi(device, "WAV:POIN 0")
print(lxi_scpi(device, "SYST:ERR?"))
print(lxi_scpi(device, "SYST:ERR?"))
lxi_disconnect(device)
