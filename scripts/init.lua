-- Decode scripts of Quellix.
--
-- The program calls one global function per row kind with a table of the
-- row's fields and shows the text it returns in the decode pane:
--   reset_decode, sof_decode, token_decode, data_decode, handshake_decode,
--   transaction_decode, transfer_decode.
-- getNode(handle) gives the table of any display row; group rows list their
-- children's handles in t.children.
--
-- Decode text: items separated by ";". An item "S<text>" is a paragraph; an
-- item "T<title>\n<heading#heading...>\n<cell#cell...>\n..." is a table.
-- So no text we write may hold ";", and no cell "#" or a line break; empty
-- cells would shift the others left, so they are written as "-".
--
-- The pane gives a table's first column a quarter of its width and the
-- second the rest; any further column is cut to a letter or two. So every
-- table has two columns, both short enough for a 420 px pane. Field names
-- are wider than the first column, so a table of fields gives there where
-- the field lies (its byte offset, or the bits of a bitmap such as "D7"),
-- and in the second the field, its value and what that means, which is
-- about 30 characters at most ("1 | bDescriptorType 0x01 DEVICE"). What
-- does not fit there goes into a row of its own (the bits of a value, a
-- HID item's data) or a paragraph.

local TICKS_PER_US = 12  -- one full-speed bit time is 1/12 us

-- Bounds on the work of one decode. Real traffic stays far below them, but a
-- hostile device (or a crafted file) can send a data stage of 32767 two-byte
-- descriptors or of megabytes, and every table we write becomes a window.
local MAX_DESCRIPTORS = 50     -- descriptors decoded from one data stage
local MAX_STAGE_BYTES = 65535  -- data-stage bytes decoded: wLength's limit
local MAX_TRANSACTIONS = 10000 -- transactions of one transfer looked at
local MAX_STAGE_ROWS = 1000    -- of those, listed in its Stages table
local MAX_PACKETS = 100        -- packets of one transaction looked at
local MAX_DUMP_BYTES = 1024    -- payload or data-stage bytes listed in hex
-- Top-level rows walked back over for a device's descriptors, to name a class
-- request (the host's table budget for one decode may end the walk sooner).
local MAX_SCAN_ROWS = 20000
local MAX_TRAIL_BYTES = 256    -- bytes after a lone descriptor's bLength listed in hex
local MAX_HID_ROWS = 200       -- rows of a HID report descriptor's table
local MAX_HID_STACK = 32       -- HID Push levels followed

---------------------------------------------------------------------------
-- Text building

-- Text safe inside a paragraph.
local function clean(text)
  return (tostring(text):gsub(";", ","))
end

-- Text safe inside a table cell or title.
local function cell(text)
  text = tostring(text == nil and "" or text):gsub("[;#]", ","):gsub("[\r\n]", " ")
  if text:match("^%s*$") then return "-" end
  return text
end

local function para(text)
  return "S" .. clean(text)
end

local function tbl(title, headings, rows)
  local lines = { "T" .. cell(title) }
  local heads = {}
  for i, h in ipairs(headings) do heads[i] = cell(h) end
  lines[#lines + 1] = table.concat(heads, "#")
  for _, row in ipairs(rows) do
    local cells = {}
    for i = 1, #headings do cells[i] = cell(row[i]) end
    lines[#lines + 1] = table.concat(cells, "#")
  end
  return table.concat(lines, "\n")
end

local function join(items)
  local kept = {}
  for _, item in ipairs(items) do
    if item and item ~= "" then kept[#kept + 1] = item end
  end
  return table.concat(kept, ";")
end

local function hex2(v) return string.format("0x%02x", v) end
local function hex4(v) return string.format("0x%04x", v) end

-- A value and its meaning in one cell: "0x01 DEVICE", "8 bytes"; a meaning
-- that begins with a number is set apart: "50 (100 mA at most)".
local function valueText(value, meaning)
  if meaning == nil or meaning == "" then return value end
  if meaning:match("^[%d%-]") then return value .. " (" .. meaning .. ")" end
  return value .. " " .. meaning
end

local function hexBytes(bytes, first, last, limit)
  first, last = first or 1, last or #bytes
  local out = {}
  for i = first, last do
    if limit and #out >= limit then
      out[#out + 1] = "..."
      break
    end
    out[#out + 1] = string.format("%02x", bytes[i])
  end
  return table.concat(out, " ")
end

-- Rows Offset / Bytes and ASCII of a hex dump of the first maxBytes bytes:
-- 4 bytes a row, since 8 and their characters are wider than the pane's
-- second column. Characters that the grammar reserves show as ".".
local DUMP_ROW_BYTES = 4
local function dumpRows(d, maxBytes)
  local rows = {}
  for i = 1, math.min(#d, maxBytes), DUMP_ROW_BYTES do
    local last = math.min(i + DUMP_ROW_BYTES - 1, #d)
    local ascii = {}
    for k = i, last do
      local b = d[k]
      ascii[#ascii + 1] = (b >= 0x21 and b < 0x7f and b ~= 0x23 and b ~= 0x3b) and string.char(b) or "."
    end
    rows[#rows + 1] = { string.format("%04x", i - 1), hexBytes(d, i, last) .. "  " .. table.concat(ascii) }
  end
  return rows
end

-- "2.00" from 0x0200; release numbers are binary-coded decimal.
local function bcd(v)
  return string.format("%x.%02x", v >> 8, v & 0xff)
end

local function plural(n, word)
  return n .. " " .. word .. (n == 1 and "" or "s")
end

-- A hex dump's table, and where it stops a paragraph on what it leaves out.
local function dumpItems(title, d, what)
  local items = { tbl(title, { "Offset", "Bytes and ASCII" }, dumpRows(d, MAX_DUMP_BYTES)) }
  if #d > MAX_DUMP_BYTES then
    items[2] = para("The table shows the first " .. MAX_DUMP_BYTES .. " bytes: the last "
      .. plural(#d - MAX_DUMP_BYTES, "byte") .. " of the " .. what .. " are not shown.")
  end
  return items
end

-- A meaning that only names the unit of a count: "1 configuration".
local function unit(word)
  return function(v) return v == 1 and word or word .. "s" end
end

local function timeText(ticks)
  local us = ticks / TICKS_PER_US
  if us >= 1000 then return string.format("%.3f ms", us / 1000) end
  return string.format("%.2f us", us)
end

local function ticksText(ticks)
  return timeText(ticks) .. " (" .. plural(ticks, "bit time") .. ")"
end

---------------------------------------------------------------------------
-- USB tables

local PID = {
  [0] = { "RESERVED", "a reserved PID that no device sends" },
  [1] = { "OUT", "the host will send a data packet to the endpoint" },
  [2] = { "ACK", "the receiver took the data packet without error" },
  [3] = { "DATA0", "data packet, toggle 0" },
  [4] = { "PING", "high-speed flow control query, not legal at full speed" },
  [5] = { "SOF", "start of a 1 ms frame" },
  [6] = { "NYET", "high-speed handshake, not legal at full speed" },
  [7] = { "DATA2", "high-speed isochronous data, not legal at full speed" },
  [8] = { "SPLIT", "high-speed hub split token, not legal at full speed" },
  [9] = { "IN", "the host asks the endpoint to send a data packet" },
  [10] = { "NAK", "the endpoint cannot send or take data now; the host will retry" },
  [11] = { "DATA1", "data packet, toggle 1" },
  [12] = { "ERR/PRE", "low-speed preamble or split error" },
  [13] = { "SETUP", "the host will send an 8-byte control request" },
  [14] = { "STALL", "the endpoint is halted or the request is not supported" },
  [15] = { "MDATA", "high-speed split data, not legal at full speed" },
}

local function pidName(pid)
  local p = PID[pid]
  return p and p[1] or ("PID " .. tostring(pid))
end

-- The PID byte on the bus: the PID and its complement in the high nibble.
local function pidByte(pid)
  if type(pid) ~= "number" or pid < 0 or pid > 15 then return "?" end
  return hex2(pid | ((~pid & 15) << 4))
end

local function pidText(pid)
  return pidName(pid) .. " (" .. pidByte(pid) .. ")"
end

-- What a table cell adds to a PID; the paragraphs say the rest.
local PID_NOTE = {
  [0] = "reserved", [3] = "toggle 0", [4] = "high-speed only", [6] = "high-speed only",
  [7] = "high-speed only", [8] = "high-speed only", [11] = "toggle 1", [15] = "high-speed only",
}

local function pidCell(pid)
  local note = PID_NOTE[pid]
  return pidText(pid) .. (note and ", " .. note or "")
end

local function crcText(ok)
  return ok and "correct" or "WRONG: packet damaged"
end

local STD_REQUEST = {
  [0] = "GET_STATUS", [1] = "CLEAR_FEATURE", [3] = "SET_FEATURE", [5] = "SET_ADDRESS",
  [6] = "GET_DESCRIPTOR", [7] = "SET_DESCRIPTOR", [8] = "GET_CONFIGURATION",
  [9] = "SET_CONFIGURATION", [10] = "GET_INTERFACE", [11] = "SET_INTERFACE",
  [12] = "SYNCH_FRAME",
}

-- Class requests of the classes we know, by the interface class that defines
-- them: the class's name, then by code the request's name, whether it goes
-- device-to-host, and words for its cell where the name is too wide. Each
-- goes to an interface of its class; another class's code means something else.
local IN, OUT = true, false
local CLASS_REQUEST = {
  [0x03] = { "HID", {
    [0x01] = { "GET_REPORT", IN }, [0x02] = { "GET_IDLE", IN }, [0x03] = { "GET_PROTOCOL", IN },
    [0x09] = { "SET_REPORT", OUT }, [0x0a] = { "SET_IDLE", OUT }, [0x0b] = { "SET_PROTOCOL", OUT },
  } },
  [0x02] = { "CDC", {
    [0x00] = { "SEND_ENCAPSULATED_COMMAND", OUT, "send command" },
    [0x01] = { "GET_ENCAPSULATED_RESPONSE", IN, "get response" },
    [0x20] = { "SET_LINE_CODING", OUT, "set line coding" }, [0x21] = { "GET_LINE_CODING", IN, "get line coding" },
    [0x22] = { "SET_CONTROL_LINE_STATE", OUT, "set line state" }, [0x23] = { "SEND_BREAK", OUT },
  } },
  [0x08] = { "Mass Storage", {
    [0xfe] = { "GET_MAX_LUN", IN }, [0xff] = { "BULK_ONLY_RESET", OUT, "bulk-only reset" },
  } },
}
-- The order in which a guess lists the classes a request would fit.
local CLASS_REQUEST_ORDER = { 0x03, 0x02, 0x08 }

local DESCRIPTOR = {
  [1] = "DEVICE", [2] = "CONFIGURATION", [3] = "STRING", [4] = "INTERFACE",
  [5] = "ENDPOINT", [6] = "DEVICE_QUALIFIER", [7] = "OTHER_SPEED_CONFIGURATION",
  [8] = "INTERFACE_POWER", [9] = "OTG", [10] = "DEBUG", [11] = "INTERFACE_ASSOCIATION",
  [15] = "BOS", [16] = "DEVICE_CAPABILITY", [0x24] = "CS_INTERFACE", [0x25] = "CS_ENDPOINT",
}
-- Types 0x21 to 0x23 are each class's own: these are HID's, and name them
-- only under a HID interface.
local HID_DESCRIPTOR = { [0x21] = "HID", [0x22] = "HID REPORT", [0x23] = "HID PHYSICAL" }

local function descriptorName(t)
  return DESCRIPTOR[t] or ("type " .. hex2(t))
end

-- Class names as a cell beside "bInterfaceClass 0x08" has room for.
local CLASS = {
  [0x01] = "Audio", [0x02] = "CDC", [0x03] = "HID", [0x05] = "Physical", [0x06] = "Image",
  [0x07] = "Printer", [0x08] = "Storage", [0x09] = "Hub", [0x0a] = "CDC Data", [0x0b] = "Smart Card",
  [0x0d] = "Security", [0x0e] = "Video", [0x0f] = "Healthcare", [0x10] = "Audio/Video",
  [0x11] = "Billboard", [0xdc] = "Diagnostic", [0xe0] = "Wireless", [0xef] = "Misc.",
  [0xfe] = "Application", [0xff] = "Vendor",
}

local function className(c)
  return CLASS[c] or "unknown"
end

local LANGUAGE = {
  [0x0409] = "English (US)", [0x0809] = "English (UK)",
  [0x0407] = "German", [0x040c] = "French", [0x0410] = "Italian", [0x0c0a] = "Spanish",
  [0x0411] = "Japanese", [0x0412] = "Korean", [0x0804] = "Chinese (PRC)",
  [0x0404] = "Chinese (TW)", [0x0419] = "Russian", [0x0416] = "Portuguese/BR",
}

local function languageName(id)
  return LANGUAGE[id] or ""
end

local TRANSFER_TYPE = { [0] = "Control", [1] = "Isochronous", [2] = "Bulk", [3] = "Interrupt" }

local function endpointText(address)
  return "EP " .. (address & 0x0f) .. ((address & 0x80) ~= 0 and " IN" or " OUT")
end

---------------------------------------------------------------------------
-- Rows

-- The table of a display row, or nil when the handle names none.
local function node(handle)
  if type(getNode) ~= "function" or type(handle) ~= "number" or handle < 0 then return nil end
  local ok, t = pcall(getNode, handle)
  if ok and type(t) == "table" then return t end
  return nil
end

-- A group's child handles: all of them, or when there are more than limit
-- the first limit - 1 and the last (a transfer's status stage); and how many
-- were left out between.
local function childrenOf(t, limit)
  local c = t.children or {}
  local n = #c
  if n <= limit then return c, 0 end
  local kept = table.move(c, 1, limit - 1, 1, {})
  kept[limit] = c[n]
  return kept, n - limit
end

-- The first token, data and handshake packet of a transaction table.
local function packetsOf(trx)
  local p = {}
  for _, h in ipairs((childrenOf(trx, MAX_PACKETS))) do
    local c = node(h)
    if c and c.type and not p[c.type] then p[c.type] = c end
  end
  return p
end

local function bytesOf(dataRow)
  return (dataRow and dataRow.data) or {}
end

---------------------------------------------------------------------------
-- Descriptors

local HEX_ROW_BYTES = 8     -- bytes shown in one cell

-- Rows Offset / "<word> <bytes>" of up to count of the bytes first..stop,
-- the last ending in "..." when they go on.
local function addHexRows(rows, d, first, stop, count, word)
  stop = math.min(stop, #d)
  local last = math.min(stop, first + count - 1)
  for i = first, last, HEX_ROW_BYTES do
    local text = hexBytes(d, i, math.min(i + HEX_ROW_BYTES - 1, last))
    if i + HEX_ROW_BYTES > last and last < stop then text = text .. " ..." end
    rows[#rows + 1] = { tostring(i - 1), word .. " " .. text }
  end
end

-- The bytes of descriptor d that bLength covers: at least its two header
-- bytes, at most what the data stage holds.
local function descriptorEnd(d)
  return math.min(#d, math.max(d[1] or 0, 2))
end

-- Every byte of a descriptor shows: after its fields (from byte off on) the
-- bytes up to bLength as hex rows, and after bLength (a lone descriptor's
-- data stage can run on) the bytes as hex rows too, up to a bound. Gives
-- the paragraphs that say where the descriptor ends early or runs on.
-- missing: the first field the descriptor has no room for, if any. d.hostCut:
-- the bytes end where the host's wLength ended the data stage; d.asked: the
-- wLength of a descriptor fetched alone.
local function addTailRows(rows, d, off, missing)
  local n, len = #d, d[1] or 0
  local stop = descriptorEnd(d)
  local notes = {}
  addHexRows(rows, d, off, stop, stop, "data")
  if len < 2 then
    notes[#notes + 1] = para("bLength " .. len .. " cannot be: a descriptor holds at least its 2 header bytes.")
  elseif n < len and d.hostCut then
    notes[#notes + 1] = para("The host asked for " .. n .. " of its " .. plural(len, "byte") .. " (bLength).")
  elseif n < len and missing then
    rows[#rows + 1] = { tostring(off - 1), missing .. " missing" }
    notes[#notes + 1] = para("The descriptor ends after " .. plural(n, "byte") .. ": " .. missing
      .. " and the fields after it are missing.")
  elseif n < len and d.asked and n < d.asked then
    notes[#notes + 1] = para("The device sent only " .. plural(n, "byte") .. ": fewer than bLength (" .. len
      .. ") and than the " .. d.asked .. " the host asked for.")
  elseif n < len then
    notes[#notes + 1] = para("The descriptor ends after " .. n .. " of its " .. plural(len, "byte")
      .. " (bLength): the device sent no more.")
  elseif missing then
    notes[#notes + 1] = para("bLength " .. len .. " ends the descriptor before " .. missing
      .. ": that field and the fields after it are absent.")
  end
  if n > stop then
    local shown = math.min(n, stop + MAX_TRAIL_BYTES)
    addHexRows(rows, d, stop + 1, shown, shown, "data")
    local text = "The data stage runs on for " .. plural(n - stop, "byte") .. " after the descriptor's "
      .. stop .. (len == stop and " (bLength): " or " (bLength " .. len .. "): ")
    if shown < n then
      text = text .. "the first " .. (shown - stop) .. " show as data, the last " .. plural(n - shown, "byte")
        .. " of the data stage are not shown."
    else
      text = text .. (n - stop == 1 and "it shows" or "they show") .. " as data."
    end
    notes[#notes + 1] = para(text)
  end
  return notes
end

-- Rows Offset / Field and value from a list of {name, size, format,
-- meaning, bits}. format: "d" decimal, "x" hex, "i" a string index, "t"
-- the meaning alone stands for the value; meaning: text or function(value),
-- written to follow the value (valueText); bits: function(value) giving
-- rows of their own for the bits of a bitmap. The bytes past the fields
-- as addTailRows shows them, and its paragraphs.
local function fieldRows(d, fields)
  local rows, off, missing = {}, 1, nil
  local stop = descriptorEnd(d)
  for _, f in ipairs(fields) do
    local name, size, format, meaning = f[1], f[2], f[3], f[4]
    if off + size - 1 > stop then
      missing = name
      break
    end
    local v = d[off]
    if size == 2 then v = v | (d[off + 1] << 8) end
    if type(meaning) == "function" then meaning = meaning(v) end
    local text
    if format == "i" then
      text = v == 0 and "0, no string" or "string " .. v
    elseif format == "t" then
      text = meaning
    else
      local shown = format == "d" and tostring(v) or size == 2 and hex4(v) or hex2(v)
      text = valueText(shown, meaning)
    end
    rows[#rows + 1] = { tostring(off - 1), name .. " " .. text }
    for _, bit in ipairs(f[5] and f[5](v) or {}) do rows[#rows + 1] = bit end
    off = off + size
  end
  return rows, addTailRows(rows, d, off, missing)
end

-- A descriptor type in a cell: only the short names fit beside
-- "bDescriptorType 0x01"; the table's title names the others.
local function typeMeaning(t)
  local name = DESCRIPTOR[t]
  return (name and #name <= 9) and name or ""
end

local HEAD = {
  { "bLength", 1, "d", unit("byte") },
  { "bDescriptorType", 1, "x", typeMeaning },
}

local function withHead(fields)
  local all = { HEAD[1], HEAD[2] }
  for _, f in ipairs(fields) do all[#all + 1] = f end
  return all
end

local FIELD_HEADINGS = { "Offset", "Field and value" }

local function fieldTable(title, d, fields)
  local rows, notes = fieldRows(d, fields)
  return join({ tbl(title, FIELD_HEADINGS, rows), table.unpack(notes) })
end

local function release(prefix)
  return function(v) return prefix .. bcd(v) end
end

-- Class 0 of a device: each interface names its own.
local function deviceClass(c)
  return c == 0 and "per interface" or className(c)
end

local function deviceDescriptor(d)
  return fieldTable("Device descriptor", d, withHead({
    { "bcdUSB", 2, "x", release("USB ") },
    { "bDeviceClass", 1, "x", deviceClass },
    { "bDeviceSubClass", 1, "x", "" },
    { "bDeviceProtocol", 1, "x", function(v)
      return (d[5] == 0xef and d[6] == 2 and v == 1) and "IAD" or ""  -- interface association
    end },
    { "bMaxPacketSize0", 1, "d", unit("byte") },
    { "idVendor", 2, "x", "" },
    { "idProduct", 2, "x", "" },
    { "bcdDevice", 2, "x", release("release ") },
    { "iManufacturer", 1, "i" },
    { "iProduct", 1, "i" },
    { "iSerialNumber", 1, "i" },
    { "bNumConfigurations", 1, "d", "" },
  }))
end

local function deviceQualifier(d)
  return join({
    para("The device qualifier gives the device's values at its other speed."),
    fieldTable("Device qualifier descriptor", d, withHead({
      { "bcdUSB", 2, "x", release("USB ") },
      { "bDeviceClass", 1, "x", deviceClass },
      { "bDeviceSubClass", 1, "x", "" },
      { "bDeviceProtocol", 1, "x", "" },
      { "bMaxPacketSize0", 1, "d", unit("byte") },
      { "bNumConfigurations", 1, "d", "" },
      { "bReserved", 1, "x", "" },
    })),
  })
end

local function configAttributes(v)
  return {
    { "D6", (v & 0x40) ~= 0 and "self-powered" or "bus-powered" },
    { "D5", (v & 0x20) ~= 0 and "remote wakeup" or "no remote wakeup" },
  }
end

local function configurationDescriptor(d, title)
  local items = { fieldTable(title, d, withHead({
    { "wTotalLength", 2, "d", "bytes in all" },
    { "bNumInterfaces", 1, "d", unit("interface") },
    { "bConfigurationValue", 1, "d", "" },
    { "iConfiguration", 1, "i" },
    { "bmAttributes", 1, "x", "", configAttributes },
    { "bMaxPower", 1, "d", function(v) return (2 * v) .. " mA" end },
  })) }
  if d[8] and (d[8] & 0x80) == 0 then
    items[2] = para("bmAttributes " .. hex2(d[8]) .. ": bit 7 should be set.")
  end
  return join(items)
end

local function interfaceProtocol(class, sub, proto)
  if class == 0x03 and sub == 1 then
    if proto == 1 then return "keyboard" end
    if proto == 2 then return "mouse" end
  end
  if class == 0x08 and proto == 0x50 then return "bulk-only" end
  if class == 0x02 and sub == 2 and proto == 1 then return "V.250" end  -- AT commands
  return ""
end

local function interfaceSubClass(class, sub)
  if class == 0x03 then return sub == 1 and "boot" or "" end
  if class == 0x08 then return sub == 6 and "SCSI" or "" end
  if class == 0x02 then return sub == 2 and "ACM" or "" end  -- Abstract Control Model
  return ""
end

local function interfaceDescriptor(d)
  local title = "Interface " .. tostring(d[3] or "?") .. ", alternate setting " .. tostring(d[4] or "?")
  return fieldTable(title, d, withHead({
    { "bInterfaceNumber", 1, "d", "" },
    { "bAlternateSetting", 1, "d", "" },
    { "bNumEndpoints", 1, "d", "besides EP 0" },
    { "bInterfaceClass", 1, "x", className },
    { "bInterfaceSubClass", 1, "x", function(v) return interfaceSubClass(d[6], v) end },
    { "bInterfaceProtocol", 1, "x", function(v) return interfaceProtocol(d[6], d[7], v) end },
    { "iInterface", 1, "i" },
  }))
end

local ISO_SYNC = { [0] = "no synchronisation", "asynchronous", "adaptive", "synchronous" }
local ISO_USAGE = { [0] = "data", "feedback", "implicit feedback data", "reserved usage" }

-- An endpoint address's direction and number, or the size bits of a
-- wMaxPacketSize that sets more than them, in rows of their own: beside
-- the field and its value they would be cut.
local function addressBits(v)
  return {
    { "D7", "direction " .. ((v & 0x80) ~= 0 and "IN" or "OUT") },
    { "D3..0", "endpoint " .. (v & 0x0f) },
  }
end

local function packetSizeBits(v)
  if v <= 0x7ff then return {} end
  local rows = { { "D10..0", plural(v & 0x7ff, "byte") } }
  local extra = (v >> 11) & 3  -- more transactions a microframe, at high speed only
  if extra > 0 then
    rows[#rows + 1] = { "D12..11", extra == 3 and "3, reserved" or plural(extra, "extra transaction") }
  end
  if (v >> 13) ~= 0 then rows[#rows + 1] = { "D15..13", "reserved, should be 0" } end
  return rows
end

-- What bInterval means, by transfer type, direction and speed, or nil
-- when its value is out of range; and what the cell has no room for.
local function intervalMeaning(v, kind, highSpeed, isIn)
  if kind == 1 or (kind == 3 and highSpeed) then  -- 2^(v-1) frames or microframes
    if v < 1 or v > 16 then return nil, "1 to 16" end
    local period = 1 << (v - 1)
    if not highSpeed then return "every " .. period .. " ms" end
    return "every " .. (period < 8 and (125 * period) .. " us" or (period // 8) .. " ms")
  end
  if kind == 3 then
    if v == 0 then return nil, "1 to 255" end
    return "ms between polls"
  end
  if highSpeed and (kind == 0 or not isIn) then  -- the NAK rate of bulk OUT and control
    if v == 0 then return "never NAKs" end
    return "NAK rate", " NAKs at most once in " .. plural(v, "microframe") .. " at high speed."
  end
  return "unused"
end

local function endpointDescriptor(d, highSpeed)
  local address, attributes = d[3] or 0, d[4] or 0
  local kind, isIn = attributes & 3, (address & 0x80) ~= 0
  local title = #d < 4 and "Endpoint descriptor"  -- no address or type to name it by
      or "Endpoint " .. hex2(address) .. " (" .. endpointText(address) .. ", " .. TRANSFER_TYPE[kind] .. ")"
  local fields = withHead({
    { "bEndpointAddress", 1, "x", "", addressBits },
    { "bmAttributes", 1, "x", function(v) return TRANSFER_TYPE[v & 3] end },
    { "wMaxPacketSize", 2, "t", function(v) return v > 0x7ff and hex4(v) or plural(v, "byte") end, packetSizeBits },
    { "bInterval", 1, "d", function(v) return intervalMeaning(v, kind, highSpeed, isIn) or "invalid" end },
  })
  if d[1] == 9 then  -- the audio-class form
    fields[#fields + 1] = { "bRefresh", 1, "d", "" }
    fields[#fields + 1] = { "bSynchAddress", 1, "x", "" }
  end
  local items = { fieldTable(title, d, fields) }
  if kind == 1 and #d >= 4 then
    items[#items + 1] = para("Isochronous endpoint " .. hex2(address) .. ": " .. ISO_SYNC[(attributes >> 2) & 3]
      .. ", " .. ISO_USAGE[(attributes >> 4) & 3] .. ".")
  end
  if d[7] and descriptorEnd(d) >= 7 then
    local meaning, note = intervalMeaning(d[7], kind, highSpeed, isIn)
    local what = TRANSFER_TYPE[kind] .. " endpoint " .. hex2(address)
    if not meaning then
      items[#items + 1] = para("bInterval " .. d[7] .. " of " .. what:lower() .. " is invalid: at "
        .. (highSpeed and "high" or "full") .. " speed it must be " .. note .. ".")
    elseif note then
      items[#items + 1] = para(what .. note)
    end
  end
  return join(items)
end

local HID_CLASS_DESCRIPTOR = { [0x22] = "report", [0x23] = "physical" }

local function hidDescriptor(d)
  local fields = {
    HEAD[1],
    { "bDescriptorType", 1, "x", "HID" },
    { "bcdHID", 2, "x", release("HID ") },
    { "bCountryCode", 1, "d", function(v) return v == 0 and "not localised" or "" end },
    { "bNumDescriptors", 1, "d", "" },
  }
  for i = 1, math.min(d[6] or 0, 8) do
    fields[#fields + 1] = { "bDescriptorType", 1, "x", function(v) return HID_CLASS_DESCRIPTOR[v] or "" end }
    fields[#fields + 1] = { "wDescriptorLength", 2, "d", unit("byte") }
  end
  return fieldTable("HID descriptor", d, fields)
end

local function associationDescriptor(d)
  return fieldTable("Interface association", d, withHead({
    { "bFirstInterface", 1, "d", "" },
    { "bInterfaceCount", 1, "d", unit("interface") },
    { "bFunctionClass", 1, "x", className },
    { "bFunctionSubClass", 1, "x", "" },
    { "bFunctionProtocol", 1, "x", "" },
    { "iFunction", 1, "i" },
  }))
end

-- A class-specific interface descriptor's subtype means something else in
-- each class (and audio subclass), so the interface before it names it, in
-- the title: a cell has no room beside "bDescriptorSubtype 0x01".
local CS_SUBTYPE = {
  [0x02] = { [0x00] = "Header", [0x01] = "Call Management", [0x02] = "ACM", [0x06] = "Union", [0x0f] = "Ethernet" },
  [0x01] = {  -- by subclass: control, streaming, MIDI streaming
    { [0x01] = "Header", [0x02] = "Input Terminal", [0x03] = "Output Terminal", [0x04] = "Mixer Unit",
      [0x05] = "Selector Unit", [0x06] = "Feature Unit" },
    { [0x01] = "General", [0x02] = "Format Type" },
    { [0x01] = "MIDI Header", [0x02] = "MIDI IN Jack", [0x03] = "MIDI OUT Jack", [0x04] = "MIDI Element" },
  },
}

local function csInterfaceTitle(subtype, iface)
  local class = iface and CLASS[iface.class]
  local names = class and CS_SUBTYPE[iface.class]
  if names and iface.class == 0x01 then names = names[iface.subClass] end
  local name = names and names[subtype]
  return (class and class .. " " or "") .. (name or "CS_INTERFACE") .. " descriptor"
end

-- The title of a descriptor that is not decoded field by field: a type that
-- each class defines for itself is named by the interface's class.
local function descriptorTitle(kind, iface)
  if not HID_DESCRIPTOR[kind] then return descriptorName(kind) .. " descriptor" end
  if iface and iface.class == 0x03 then return HID_DESCRIPTOR[kind] .. " descriptor" end
  local class = iface and CLASS[iface.class]
  return (class and class .. " " or "") .. "class descriptor " .. hex2(kind)
end

-- iface: the class and subclass of the interface descriptor before it, if any.
local function otherDescriptor(d, iface)
  local kind = d[2]
  local title = kind and descriptorTitle(kind, iface) or "Incomplete descriptor"
  local rows = { { "0", "bLength " .. valueText(tostring(d[1]), unit("byte")(d[1])) } }
  local first = 2
  if kind then
    rows[2] = { "1", "bDescriptorType " .. valueText(hex2(kind), typeMeaning(kind)) }
    first = 3
  end
  if kind == 0x24 and d[3] and descriptorEnd(d) >= 3 then
    rows[#rows + 1] = { "2", "bDescriptorSubtype " .. hex2(d[3]) }
    title = csInterfaceTitle(d[3], iface)
    first = 4
  end
  local notes = addTailRows(rows, d, first, not kind and "bDescriptorType" or nil)
  return join({ tbl(title, FIELD_HEADINGS, rows), table.unpack(notes) })
end

-- The descriptors from byte off on, up to the end or a broken bLength.
local function countDescriptors(d, off)
  local n = 0
  while off + 1 <= #d and d[off] >= 2 do
    n, off = n + 1, off + d[off]
  end
  return n
end

-- A configuration: the header, then the descriptors that follow it.
local function configurationSet(d, title, s)
  local items, iface = {}, nil
  local off = 1
  while off <= #d do
    local len, kind = d[off], d[off + 1]
    if len < 2 then
      items[#items + 1] = para("A descriptor at byte " .. (off - 1) .. " gives bLength " .. len
        .. ", which cannot be: the last " .. plural(#d - off + 1, "byte") .. " of the data stage "
        .. (#d - off == 0 and "is" or "are") .. " not decoded.")
      break
    end
    if #items == MAX_DESCRIPTORS then
      local n = countDescriptors(d, off)
      items[#items + 1] = para(plural(n, "more descriptor") .. " in the last " .. plural(#d - off + 1, "byte")
        .. " of the data stage " .. (n == 1 and "is" or "are") .. " not decoded: only the first "
        .. MAX_DESCRIPTORS .. " are.")
      break
    end
    local last = math.min(off + len - 1, #d)
    local sub = table.move(d, off, last, 1, {})
    sub.hostCut = d.hostCut and last == #d
    if kind == 2 or kind == 7 then
      items[#items + 1] = configurationDescriptor(sub, off == 1 and title or descriptorName(kind))
    elseif kind == 4 then
      items[#items + 1] = interfaceDescriptor(sub)
      iface = { class = sub[6], subClass = sub[7] }
    elseif kind == 5 then
      items[#items + 1] = endpointDescriptor(sub, d[2] == 7)  -- the other speed is high speed
    elseif kind == 0x21 and iface and iface.class == 0x03 then
      items[#items + 1] = hidDescriptor(sub)
    elseif kind == 11 then
      items[#items + 1] = associationDescriptor(sub)
    else
      items[#items + 1] = otherDescriptor(sub, iface)
    end
    off = off + len
  end
  local total = (#d >= 4) and (d[3] | (d[4] << 8)) or nil
  if total and total > #d then
    local header = d[2] == 15 and 5 or 9
    local text = "wTotalLength is " .. total .. " bytes but this transfer carried " .. #d
    if s.wLength == #d then
      text = text .. ", all the host asked for: hosts read "
        .. (#d == header and "the " .. header .. "-byte header" or "part of a set") .. " first and then ask for the whole set."
    elseif #d < s.wLength then
      text = text .. " of the " .. s.wLength .. " the host asked for: the device's reply is short."
    else
      text = text .. "."
    end
    items[#items + 1] = para(text)
  end
  return join(items)
end

-- Characters that draw nothing or reorder the text around them (format,
-- bidi and line-separator characters): with them a serial number could
-- read as another.
local INVISIBLE = {
  { 0xad, 0xad }, { 0x61c, 0x61c }, { 0x180e, 0x180e }, { 0x200b, 0x200f }, { 0x2028, 0x202e },
  { 0x2060, 0x2069 }, { 0xfeff, 0xfeff },
}

local function invisible(u)
  for _, r in ipairs(INVISIBLE) do
    if u >= r[1] and u <= r[2] then return true end
  end
  return false
end

-- A string's character as the device sent it, where the decode text can
-- carry it: ";" shows as its look-alike U+037E; that one, control and
-- invisible characters and lone surrogates as \uXXXX, and the backslash as
-- \\, so no string reads as another.
local function stringChar(u)
  if u == 0x3b then return utf8.char(0x37e) end
  if u == 0x5c then return "\\\\" end
  if u < 0x20 or (u >= 0x7f and u < 0xa0) or u == 0x37e or (u >= 0xd800 and u <= 0xdfff) or invisible(u) then
    return string.format("\\u%04x", u)
  end
  return utf8.char(u)
end

-- UTF-16LE bytes first..last to UTF-8 as stringChar shows them.
local function utf16(d, first, last)
  local out, i = {}, first
  while i + 1 <= last do
    local u = d[i] | (d[i + 1] << 8)
    i = i + 2
    if u >= 0xd800 and u <= 0xdbff and i + 1 <= last then
      local low = d[i] | (d[i + 1] << 8)
      if low >= 0xdc00 and low <= 0xdfff then
        u = 0x10000 + ((u - 0xd800) << 10) + (low - 0xdc00)
        i = i + 2
      end
    end
    out[#out + 1] = stringChar(u)
  end
  return table.concat(out)
end

-- A string descriptor, or with index 0 the list of languages. The string
-- is what bLength covers; what follows bLength, or an odd last byte,
-- shows as data.
local function stringDescriptor(d, index)
  local len, stop = d[1] or 0, descriptorEnd(d)
  local last = 2 + (stop - 2) // 2 * 2  -- the end of the whole UTF-16 units
  local rows = { { "0", "bLength " .. plural(len, "byte") } }
  local items, title = {}, "String descriptor " .. index
  if d[2] then rows[2] = { "1", "bDescriptorType " .. valueText(hex2(d[2]), typeMeaning(d[2])) } end
  if index == 0 then
    title = "String descriptor 0: languages"
    for i = 3, last - 1, 2 do
      local id = d[i] | (d[i + 1] << 8)
      rows[#rows + 1] = { tostring(i - 1), "wLANGID " .. valueText(hex4(id), languageName(id)) }
    end
  elseif d[2] then
    -- The text itself stands in the paragraph, which wraps: a cell would cut it.
    items[1] = para("String " .. index .. (#d < len and " (incomplete)" or "") .. ": \"" .. utf16(d, 3, last) .. "\"")
    rows[#rows + 1] = { "2", "bString " .. plural((last - 2) // 2, "UTF-16 unit") }
  end
  local notes = addTailRows(rows, d, last + 1, not d[2] and "bDescriptorType" or nil)
  items[#items + 1] = tbl(title, FIELD_HEADINGS, rows)
  if len >= 3 and len % 2 == 1 and #d >= len then
    items[#items + 1] = para("bLength " .. len .. " is odd: its last byte is half a UTF-16 unit.")
  end
  table.move(notes, 1, #notes, #items + 1, items)
  return join(items)
end

-- HID report descriptor: short items, one row each, nested by collection.
local HID_MAIN = { [8] = "Input", [9] = "Output", [11] = "Feature", [10] = "Collection", [12] = "End Collection" }
local HID_GLOBAL = {
  [0] = "Usage Page", "Logical Minimum", "Logical Maximum", "Physical Minimum", "Physical Maximum",
  "Unit Exponent", "Unit", "Report Size", "Report ID", "Report Count", "Push", "Pop",
}
local HID_LOCAL = {
  [0] = "Usage", "Usage Minimum", "Usage Maximum", "Designator Index", "Designator Minimum",
  "Designator Maximum", [7] = "String Index", [8] = "String Minimum", [9] = "String Maximum",
  [10] = "Delimiter",
}
local USAGE_PAGE = {
  [0x01] = "Generic Desktop", [0x02] = "Simulation", [0x06] = "Generic Device", [0x07] = "Keyboard/Keypad",
  [0x08] = "LED", [0x09] = "Button", [0x0c] = "Consumer", [0x0d] = "Digitizer", [0x0f] = "PID",
}
local COLLECTION = { [0] = "Physical", "Application", "Logical", "Report", "Named Array", "Usage Switch", "Usage Modifier" }

local function collectionType(v, value)
  return COLLECTION[v] or value .. (v >= 0x80 and v <= 0xff and ", vendor" or ", reserved")
end

-- The first three flags of a main item, as HID tools abbreviate them.
local function mainFlags(v)
  local parts = {
    (v & 1) ~= 0 and "Cnst" or "Data",
    (v & 2) ~= 0 and "Var" or "Ary",
    (v & 4) ~= 0 and "Rel" or "Abs",
  }
  return table.concat(parts, ",")
end

-- Flags 3 to 8 of a main item where they differ from the default.
local MAIN_FLAG = { [3] = "Wrap", [4] = "NLin", [5] = "NPrf", [6] = "Null", [7] = "Vol", [8] = "Buf" }

-- Rows of the bits of a main item's data from bit 3 on, which would not fit
-- beside the first three: the flags set, and reserved bits set. Volatile
-- is an Output and Feature flag: bit 7 of an Input item is reserved.
local function mainFlagRows(v, size, tag)
  local rows, set = {}, {}
  for bit = 3, 8 do
    if ((v >> bit) & 1) ~= 0 and not (tag == 8 and bit == 7) then set[#set + 1] = MAIN_FLAG[bit] end
  end
  if #set > 0 then rows[1] = { size == 1 and "D7..3" or "D8..3", table.concat(set, ",") } end
  if tag == 8 and (v & 0x80) ~= 0 then rows[#rows + 1] = { "D7", "reserved, set" } end
  if (v >> 9) ~= 0 then
    rows[#rows + 1] = { "D" .. (8 * size - 1) .. "..9", string.format("reserved 0x%x", (v >> 9) << 9) }
  end
  return rows
end

local GENERIC_DESKTOP = {
  [0x01] = "Pointer", [0x02] = "Mouse", [0x04] = "Joystick", [0x05] = "Game Pad", [0x06] = "Keyboard",
  [0x07] = "Keypad", [0x30] = "X", [0x31] = "Y", [0x32] = "Z", [0x38] = "Wheel", [0x80] = "System Control",
}

-- A usage's name under its page, where we know one.
local function usageName(page, id)
  if page == 0x01 then return GENERIC_DESKTOP[id] end
  if page == 0x09 and id > 0 then return "Button " .. id end
  return nil
end

-- A 4-byte usage: its page in the high 16 bits, the usage in the low.
local function extendedUsage(v, idText)
  local page, id = v >> 16, v & 0xffff
  return usageName(page, id) or (USAGE_PAGE[page] or "page " .. hex4(page)) .. " " .. idText(id)
end

-- The bytes of an item's data: a long item's from its size byte on.
local function hidDataSize(d, i)
  if d[i] == 0xfe then return (d[i + 1] or 0) + 2 end
  return ({ [0] = 0, 1, 2, 4 })[d[i] & 3]
end

-- Item data as the descriptor holds it: little-endian, 0, 1, 2 or 4 bytes.
local function itemValue(d, i, size)
  local v = 0
  for k = size, 1, -1 do v = (v << 8) | (d[i + k] or 0) end
  return v
end

local function signed(v, size)
  local bits = 8 * size
  if size > 0 and size < 8 and v >= (1 << (bits - 1)) then return v - (1 << bits) end
  return v
end

local MAX_HID_INDENT = 6  -- collection levels shown by indentation
local HID_ROW_CHARS = 28  -- characters of an indented item with its data in one cell

-- Rows Offset / Item and data, the data written as HID tools write it:
-- "Usage Page (Generic Desktop)", "Logical Minimum (-127)"; a value
-- without a name in hex. An item nested so deep that it would not fit with
-- its data gives the data a row of its own, at the data's offset. Global
-- items are followed through Push and Pop, so that usages are named under
-- the page in force.
local function reportDescriptor(d)
  local rows, i, depth, deepest = {}, 1, 0, 0
  local globals, stack, lost = {}, {}, 0  -- lost: Push levels past the bound
  local items = {}
  while i <= #d and #rows < MAX_HID_ROWS do
    local prefix = d[i]
    local size = hidDataSize(d, i)
    local kind, tag = (prefix >> 2) & 3, prefix >> 4
    local name, data
    local extra = {}
    local page = globals[0]
    if prefix == 0xfe then  -- long item: shown as bytes, skipped whole
      name = "Long item"
      addHexRows(extra, d, i + 1, i + size, size, "bytes")
    elseif i + size > #d then  -- its data runs past the end: shown as bytes
      name = ({ [0] = HID_MAIN, HID_GLOBAL, HID_LOCAL })[kind]
      name = name and name[tag]
      addHexRows(extra, d, i + 1, #d, size, "bytes")
      items[#items + 1] = para("The item at byte " .. (i - 1) .. " has " .. plural(size, "data byte")
        .. " but the descriptor ends after " .. plural(#d - i, "byte") .. " of them.")
    else
      local v = itemValue(d, i, size)
      local value = string.format("0x%0" .. (2 * size) .. "x", v)
      local meaning = ""
      if kind == 0 then
        name = HID_MAIN[tag]
        if tag == 10 then meaning = collectionType(v, value) end
        if tag == 8 or tag == 9 or tag == 11 then meaning, extra = mainFlags(v), mainFlagRows(v, size, tag) end
        if tag == 12 then depth = math.max(depth - 1, 0) end
      elseif kind == 1 then
        name = HID_GLOBAL[tag]
        if tag <= 9 then globals[tag] = v end
        if tag == 0 then
          meaning = USAGE_PAGE[v] or (v >= 0xff00 and value .. ", vendor" or "")
        elseif tag >= 1 and tag <= 4 then
          meaning = tostring(signed(v, size))
        elseif tag == 5 then  -- a signed nibble; wider data read as a signed number
          meaning = tostring(v <= 0xf and (v >= 8 and v - 16 or v) or signed(v, size))
        elseif tag <= 9 and tag ~= 6 then  -- a unit reads better in hex
          meaning = tostring(v)
        elseif tag == 10 and #stack < MAX_HID_STACK then
          stack[#stack + 1] = table.move(globals, 0, 9, 0, {})
        elseif tag == 10 then
          lost, meaning = lost + 1, "stack full"
        elseif tag == 11 and lost > 0 then  -- what it restores was not kept
          lost, globals, meaning = lost - 1, {}, "not followed"
        elseif tag == 11 and #stack > 0 then
          globals = table.remove(stack)
        elseif tag == 11 then
          meaning = "stack empty"
        end
      elseif kind == 2 then
        name = HID_LOCAL[tag]
        if tag == 0 then meaning = size == 4 and extendedUsage(v, hex4) or usageName(page, v) or "" end
        if tag == 1 or tag == 2 then meaning = size == 4 and extendedUsage(v, tostring) or tostring(v) end
      end
      data = meaning ~= "" and meaning or size > 0 and value or nil
    end
    local indent = string.rep(". ", math.min(depth, MAX_HID_INDENT))
    name = name or ("item " .. hex2(prefix))
    if data and #indent + #name + #data + 3 <= HID_ROW_CHARS then
      rows[#rows + 1] = { tostring(i - 1), indent .. name .. " (" .. data .. ")" }
    else
      rows[#rows + 1] = { tostring(i - 1), indent .. name }
      if data then rows[#rows + 1] = { tostring(i), indent .. "(" .. data .. ")" } end
    end
    table.move(extra, 1, #extra, #rows + 1, rows)
    if kind == 0 and tag == 10 then depth = depth + 1 end
    deepest = math.max(deepest, depth)
    i = i + 1 + size
  end
  table.insert(items, 1, tbl("HID report descriptor", { "Offset", "Item and data" }, rows))
  if deepest > MAX_HID_INDENT then
    items[#items + 1] = para("Collections are nested " .. deepest .. " deep: items deeper than " .. MAX_HID_INDENT
      .. " levels are indented as at level " .. MAX_HID_INDENT .. ".")
  end
  if i <= #d then
    local left, j = 0, i
    while j <= #d do left, j = left + 1, j + 1 + hidDataSize(d, j) end
    items[#items + 1] = para("The table stops at " .. MAX_HID_ROWS .. " rows: the last " .. plural(#d - i + 1, "byte")
      .. " of the data stage, " .. plural(left, "item") .. " from byte " .. (i - 1) .. " on, are not shown.")
  end
  return join(items)
end

---------------------------------------------------------------------------
-- Control requests

local REQUEST_TYPE = { [0] = "Standard", "Class", "Vendor", "Reserved" }
local RECIPIENT = { [0] = "Device", "Interface", "Endpoint", "Other" }

-- What a request's code means beside "bRequest 0x06": its name where that
-- fits, else the name in words; the class that defines a class request
-- stands in the type row. Titles and paragraphs give the whole names.
local STD_REQUEST_CELL = { [8] = "get configuration", [9] = "set configuration" }
-- Words for a guess that two classes' requests fit.
local CLASS_REQUEST_CELL = { [0x01] = "report/response" }
local UNNAMED_REQUEST = { [0] = "reserved", "class-defined", "vendor-defined", "reserved" }
local GUESSED = "class not seen: guessed from the request"

-- A control transfer's data stage and outcome, by the rule of the engine's
-- Ttransfer::findData, so that the row's boxes and its text cannot disagree:
-- without a data stage (wLength 0) the status is IN whatever bit 7 says; an
-- ACKed transaction of the data type adds its packet when that packet has
-- the toggle due (DATA1 first, then alternating), so a packet sent again
-- after a lost ACK counts once; the request succeeded when an ACKed status
-- transaction carried an empty data packet.
-- trxs: { row = transaction table, p = its packets } in order. Gives the
-- bytes (the first MAX_STAGE_BYTES), their count, success, and by index in
-- trxs why an ACKed data packet was not counted: "repeat" (the toggle of
-- the packet before), "turn" (DATA0 first) or "pid" (no DATA0 or DATA1).
local function stageBytes(s, trxs)
  local deviceToHost = s.wLength ~= 0 and s.deviceToHost
  local st = {
    dataType = deviceToHost and "IN" or "OUT", statusType = deviceToHost and "OUT" or "IN",
    bytes = {}, count = 0, success = false, skipped = {},
  }
  local due, accepted = 11, false  -- DATA1 first
  for i, x in ipairs(trxs) do
    local data, acked = x.p.data, x.p.handshake and x.p.handshake.pid == 2
    if acked and data and x.row.subType == st.dataType then
      local b = bytesOf(data)
      if data.pid == due then
        table.move(b, 1, math.min(#b, MAX_STAGE_BYTES - #st.bytes), #st.bytes + 1, st.bytes)
        st.count = st.count + #b
        due, accepted = due == 11 and 3 or 11, true
      elseif data.pid == 3 or data.pid == 11 then
        st.skipped[i] = accepted and "repeat" or "turn"
      else
        st.skipped[i] = "pid"
      end
    elseif acked and data and #bytesOf(data) == 0 and x.row.subType == st.statusType then
      st.success = true
    end
  end
  return st
end

-- The class of each interface (its first alternate setting) and of the
-- endpoints that follow it, in a configuration set; nil when it holds no
-- interface.
local function configClasses(d)
  local interfaces, endpoints, class = {}, {}, nil
  local off = 1
  while off + 1 <= #d and d[off] >= 2 do
    local kind = d[off + 1]
    if kind == 4 and d[off + 5] then
      class = d[off + 5]
      if interfaces[d[off + 2]] == nil then interfaces[d[off + 2]] = class end
    elseif kind == 5 and class and d[off + 2] then
      endpoints[d[off + 2] & 0x8f] = class
    end
    off = off + d[off]
  end
  return next(interfaces) ~= nil and { interfaces = interfaces, endpoints = endpoints } or nil
end

-- The top-level row that holds display row h: packets lie at most two
-- levels down.
local function topRow(h)
  local t = node(h)
  for _ = 1, 2 do
    if not t or type(t.parent) ~= "number" or t.parent < 0 then break end
    t = node(t.parent)
  end
  return t
end

-- The SETUP bytes of a control transfer to device addr, or nil.
local function requestTo(transfer, addr)
  local first = node((transfer.children or {})[1])
  local p = first and first.subType == "SETUP" and packetsOf(first) or {}
  local b = bytesOf(p.data)
  if p.token and p.token.addr == addr and #b == 8 then return b end
  return nil
end

-- What the nearest GET_DESCRIPTOR of descriptor type want (1 device, 2
-- configuration) to device addr before display row handle showed: the
-- device class, or the classes of the interfaces and endpoints. nil when
-- none came since the last bus reset (addresses are given anew), within the
-- walk's bounds.
local function seenBefore(handle, addr, want)
  local h = handle - 1
  for _ = 1, MAX_SCAN_ROWS do
    local t = h >= 0 and topRow(h)
    if not t or type(t.handle) ~= "number" or t.type == "reset" then return nil end
    local b = t.type == "transfer" and requestTo(t, addr)
    if b and b[1] == 0x80 and b[2] == 6 and b[4] == want then
      local trxs = {}
      for _, c in ipairs((childrenOf(t, MAX_TRANSACTIONS))) do
        local row = node(c)
        if row then trxs[#trxs + 1] = { row = row, p = packetsOf(row) } end
      end
      local d = stageBytes({ deviceToHost = true, wLength = b[7] | (b[8] << 8) }, trxs).bytes
      local found
      if want == 2 then found = configClasses(d) elseif #d >= 5 and d[2] == 1 then found = { class = d[5] } end
      if found then return found end
    end
    h = math.min(t.handle, h) - 1
  end
  return nil
end

-- The class a request goes to (nil where it has none) and whether the
-- capture showed it: an interface's or endpoint's class from the
-- configuration, the device's from its device descriptor.
local function targetClass(s, handle, addr)
  if type(handle) ~= "number" or type(addr) ~= "number" then return nil, false end
  if s.recipient == 1 or s.recipient == 2 then
    local config = seenBefore(handle, addr, 2)
    if not config then return nil, false end
    if s.recipient == 1 then return config.interfaces[s.wIndex & 0xff], true end
    return config.endpoints[s.wIndex & 0x8f], true
  end
  local device = seenBefore(handle, addr, 1)
  if not device then return nil, false end
  return device.class ~= 0 and device.class or nil, true
end

local function classLabel(c)
  return CLASS_REQUEST[c] and CLASS_REQUEST[c][1] or CLASS[c] or "class " .. hex2(c)
end

-- A class request's name from the table of the class it goes to, where its
-- code, direction and recipient fit; without a configuration seen, from
-- every table it fits, as a guess. Else it stays a number.
local function nameClassRequest(s, handle, addr)
  local class, seen = nil, true
  if s.recipient <= 3 then class, seen = targetClass(s, handle, addr) end
  local fits = {}
  for _, c in ipairs(seen and { class } or CLASS_REQUEST_ORDER) do
    local request = CLASS_REQUEST[c] and CLASS_REQUEST[c][2][s.bRequest]
    if request and request[2] == s.deviceToHost and s.recipient == 1 then
      fits[#fits + 1] = { class = c, name = CLASS_REQUEST[c][1] .. " " .. request[1], cell = request[3] or request[1] }
    end
  end
  if #fits == 0 then
    s.name = "class request " .. hex2(s.bRequest)
    s.cell = UNNAMED_REQUEST[1]
    s.class = class and classLabel(class) or not seen and "class not seen" or nil
    return
  end
  local names, classes = {}, {}
  for i, f in ipairs(fits) do names[i], classes[i] = f.name, classLabel(f.class) end
  s.name = table.concat(names, " or ")
  s.guessed = not seen
  s.requestClass = #fits == 1 and fits[1].class or nil
  s.cell = #fits == 1 and fits[1].cell or CLASS_REQUEST_CELL[s.bRequest] or UNNAMED_REQUEST[1]
  s.class = table.concat(classes, " or ") .. (seen and "" or " (guess)")
end

-- A class descriptor type asked for from an interface is HID's only where
-- the interface is HID, or as a guess where no configuration was seen.
local function nameClassDescriptor(s, handle, addr)
  local t = s.wValue >> 8
  s.descriptor = "class descriptor " .. hex2(t)
  if s.recipient ~= 1 then return end
  local class, seen = targetClass(s, handle, addr)
  if seen and class ~= 0x03 then return end
  s.hid, s.guessed = true, not seen
  s.descriptor = HID_DESCRIPTOR[t]
end

-- The fields of an 8-byte SETUP packet. handle and addr (the display row
-- decoded and the SETUP token's address) let a class request be named from
-- what the capture showed of the device before it.
local function parseSetup(b, handle, addr)
  local s = {
    bmRequestType = b[1], bRequest = b[2],
    wValue = b[3] | (b[4] << 8), wIndex = b[5] | (b[6] << 8), wLength = b[7] | (b[8] << 8),
  }
  s.deviceToHost = (b[1] & 0x80) ~= 0
  s.kind = (b[1] >> 5) & 3
  s.recipient = b[1] & 0x1f
  s.cell = s.kind == 0 and (STD_REQUEST_CELL[s.bRequest] or STD_REQUEST[s.bRequest]) or UNNAMED_REQUEST[s.kind]
  if s.kind == 0 then
    s.name = STD_REQUEST[s.bRequest] or ("reserved request " .. s.bRequest)
    if (s.bRequest == 6 or s.bRequest == 7) and HID_DESCRIPTOR[s.wValue >> 8] then
      nameClassDescriptor(s, handle, addr)
    end
  elseif s.kind == 1 then
    nameClassRequest(s, handle, addr)
  else
    s.name = REQUEST_TYPE[s.kind]:lower() .. " request " .. hex2(s.bRequest)
  end
  return s
end

-- Feature selectors in words (their names are wider than a cell), by
-- recipient: interfaces have none of their own.
local FEATURE = { [0] = { [1] = "remote wakeup", [2] = "test mode" }, [2] = { [0] = "endpoint halt" } }

-- The type and index of a descriptor that wValue asks for, in rows of
-- their own: beside the value they would be cut.
local function descriptorBits(v, name)
  local t = v >> 8
  return {
    { "D15..8", "type " .. (name or t == 7 and "OTHER_SPEED_CONFIG" or DESCRIPTOR[t] or hex2(t)) },
    { "D7..0", "index " .. (v & 0xff) },
  }
end

local function valueMeaning(s)
  local v = s.wValue
  if s.kind == 0 then
    local r = s.bRequest
    if r == 5 then
      if v == 0 then return "default address" end
      return v <= 127 and "address " .. v or v .. ", invalid"
    end
    if r == 9 then return (v & 0xff) == 0 and "unconfigured" or "configuration " .. (v & 0xff) end
    if r == 11 then return "setting " .. v end
    if r == 1 or r == 3 then return (FEATURE[s.recipient] or {})[v] or "feature " .. v end
    return ""
  end
  if s.requestClass == 0x03 then
    local r = s.bRequest
    if r == 0x0a then
      local ms = (v >> 8) * 4
      return (ms == 0 and "on change" or ms .. " ms") .. ", ID " .. (v & 0xff)
    end
    if r == 0x01 or r == 0x09 then
      local types = { "Input", "Output", "Feature" }
      return (types[v >> 8] or "type " .. (v >> 8)) .. ", ID " .. (v & 0xff)
    end
    if r == 0x0b then return v == 0 and "boot protocol" or "report protocol" end
  end
  if s.requestClass == 0x02 and s.bRequest == 0x22 then
    return "DTR " .. ((v & 1) ~= 0 and "on" or "off") .. ", RTS " .. ((v & 2) ~= 0 and "on" or "off")
  end
  return ""
end

local function indexMeaning(s)
  if s.kind == 0 and s.bRequest == 6 and (s.wValue >> 8) == 3 then
    if (s.wValue & 0xff) == 0 then return s.wIndex == 0 and "list of languages" or "" end
    return languageName(s.wIndex)  -- a LANGID
  end
  if s.recipient == 1 then return "interface " .. (s.wIndex & 0xff) end
  if s.recipient == 2 then return endpointText(s.wIndex) end
  return ""
end

-- The SETUP request's fields, the bits of bmRequestType and of a
-- descriptor's wValue in rows of their own.
local function setupTable(s, title)
  local rows = {
    { "0", "bmRequestType " .. hex2(s.bmRequestType) },
    { "D7", "direction " .. (s.deviceToHost and "device-to-host" or "host-to-device") },
    { "D6..5", "type " .. REQUEST_TYPE[s.kind] .. (s.class and ", " .. s.class or "") },
    { "D4..0", "recipient " .. (RECIPIENT[s.recipient] or s.recipient .. ", reserved") },
    { "1", "bRequest " .. hex2(s.bRequest) .. " " .. s.cell },
    { "2", "wValue " .. valueText(hex4(s.wValue), valueMeaning(s)) },
  }
  if s.kind == 0 and (s.bRequest == 6 or s.bRequest == 7) then
    table.move(descriptorBits(s.wValue, s.hid and s.descriptor .. (s.guessed and " (guess)" or "")), 1, 2,
      #rows + 1, rows)
  end
  rows[#rows + 1] = { "4", "wIndex " .. valueText(hex4(s.wIndex), indexMeaning(s)) }
  -- A device may answer a read with less; a write carries exactly wLength.
  local follow = s.wLength == 1 and " follows" or " follow"
  rows[#rows + 1] = { "6", "wLength " .. (s.wLength == 0 and "0 bytes, no data stage"
    or plural(s.wLength, "byte") .. (s.deviceToHost and " at most" or follow)) }
  return tbl(title or "SETUP request", FIELD_HEADINGS, rows)
end

local function requestTitle(s)
  local guess = s.guessed and ", " .. GUESSED or ""
  if s.descriptor then return s.name .. " (" .. s.descriptor .. guess .. ")" end
  if s.kind == 0 and s.bRequest == 6 then return s.name .. " (" .. descriptorName(s.wValue >> 8) .. ")" end
  return s.name .. (s.guessed and " (" .. GUESSED .. ")" or "")
end

-- What the data stage of a request says, as decode items.
local function dataStageItems(s, d)
  if #d == 0 then return {} end
  if s.kind == 0 and s.bRequest == 6 and s.deviceToHost then
    local kind, index = s.wValue >> 8, s.wValue & 0xff
    d.asked, d.hostCut = s.wLength, #d == s.wLength
    if kind == 1 then return { deviceDescriptor(d) } end
    if kind == 2 then return { configurationSet(d, "Configuration descriptor", s) } end
    if kind == 7 then return { configurationSet(d, "Other speed configuration", s) } end
    if kind == 3 then return { stringDescriptor(d, index) } end
    if kind == 6 then return { deviceQualifier(d) } end
    if kind == 0x21 and s.hid then return { hidDescriptor(d) } end
    if kind == 0x22 and s.hid then return { reportDescriptor(d) } end
    if kind == 15 then return { configurationSet(d, "BOS descriptor", s) } end
  end
  if s.kind == 0 and s.bRequest == 0 and #d == 2 then
    local v = d[1] | (d[2] << 8)
    if s.recipient == 0 then
      return { para("Device status " .. hex4(v) .. ": " .. ((v & 1) ~= 0 and "self-powered" or "bus-powered")
        .. ", remote wakeup " .. ((v & 2) ~= 0 and "enabled" or "disabled") .. ".") }
    elseif s.recipient == 2 then
      return { para("Endpoint status " .. hex4(v) .. ": " .. ((v & 1) ~= 0 and "halted" or "not halted") .. ".") }
    end
  end
  if s.kind == 0 and s.bRequest == 8 and #d == 1 then return { para("Current configuration: " .. d[1] .. ".") } end
  if s.kind == 0 and s.bRequest == 10 and #d == 1 then return { para("Current alternate setting: " .. d[1] .. ".") } end
  if s.requestClass == 0x02 and (s.bRequest == 0x20 or s.bRequest == 0x21) and #d == 7 then
    local rate = d[1] | (d[2] << 8) | (d[3] << 16) | (d[4] << 24)
    local stop = ({ [0] = "1 stop bit", "1.5 stop bits", "2 stop bits" })[d[5]] or "reserved"
    local parity = ({ [0] = "none", "odd", "even", "mark", "space" })[d[6]] or "?"
    return { tbl("Line coding", FIELD_HEADINGS, {
      { "0", "dwDTERate " .. rate .. " bit/s" },
      { "4", "bCharFormat " .. valueText(tostring(d[5]), stop) },
      { "5", "bParityType " .. d[6] .. " parity " .. parity },
      { "6", "bDataBits " .. d[7] .. " data bits" },
    }) }
  end
  return dumpItems("Data stage", d, "data stage")
end

---------------------------------------------------------------------------
-- Transactions

local PACKET_ROLE = { token = "Token", data = "Data", handshake = "Handshake" }

-- A packet's rows of a transaction table: its PID and details, then rows of
-- their own for the first payload bytes and a wrong CRC, which would not fit
-- beside them.
local function addPacketRows(rows, c)
  local text = pidText(c.pid)
  if c.type == "token" then
    text = text .. ", device " .. tostring(c.addr) .. ", EP " .. tostring(c.endp)
  elseif c.type == "data" then
    text = text .. ", " .. plural(#bytesOf(c), "byte")
  end
  rows[#rows + 1] = { PACKET_ROLE[c.type] or c.type or "?", text }
  local d = bytesOf(c)
  if c.type == "data" and #d > 0 then rows[#rows + 1] = { "Payload", hexBytes(d, 1, #d, HEX_ROW_BYTES) } end
  if c.crcOK == false then rows[#rows + 1] = { c.type == "data" and "CRC16" or "CRC5", crcText(false) } end
end

-- A STALL: on a control endpoint it mostly refuses the request.
local function stallText(where, token)
  if token and token.endp == 0 then
    return where .. " answered STALL: it does not support the request (or not in its present state)."
  end
  return where .. " is halted: it answered STALL."
end

-- What answered where the protocol allows no such answer.
local function illegalAnswer(where, hs, what)
  return where .. " answered " .. pidName(hs) .. ", which is not a legal answer to " .. what .. " at full speed."
end

-- One line on how a transaction ended.
local function outcome(trx, p)
  local hs = p.handshake and p.handshake.pid
  local n = #bytesOf(p.data)
  local amount = n == 0 and "a zero-length packet" or plural(n, "byte")
  local where = p.token and ("device " .. p.token.addr .. " endpoint " .. p.token.endp) or "the endpoint"
  if trx.subType == "IN" then
    if p.data then
      if hs == 2 then return where .. " sent " .. amount .. " and the host acknowledged " .. (n == 0 and "it." or "them.") end
      if hs then return where .. " sent " .. amount .. ", then " .. illegalAnswer("the host", hs, "data") end
      return where .. " sent " .. amount .. "; no ACK from the host followed (isochronous, or the data was damaged)."
    end
    if hs == 10 then return where .. " had no data ready and answered NAK; the host will ask again." end
    if hs == 14 then return stallText(where, p.token) end
    if hs then return illegalAnswer(where, hs, "IN") end
    return "No answer from " .. where .. " was seen (timeout)."
  end
  if trx.subType == "SETUP" then
    if not p.data then
      return "The SETUP token has no data packet after it" .. (hs and ", yet " .. pidName(hs) .. " followed." or ".")
    end
    if hs == 2 then return where .. " accepted the SETUP request." end
    -- A device must take every SETUP (USB 2.0 section 8.4.6.4).
    if hs then
      return where .. " broke the protocol: it answered " .. pidName(hs)
        .. " to a SETUP, which a device must always accept with ACK."
    end
    return "No handshake from " .. where .. " was seen after the SETUP request."
  end
  if not p.data then
    return "The OUT token to " .. where .. " has no data packet after it" .. (hs and ", yet " .. pidName(hs) .. " followed." or ".")
  end
  if hs == 2 then return where .. " took " .. amount .. " and answered ACK." end
  if hs == 10 then return where .. " could not take the data now (NAK); the host will send it again." end
  if hs == 14 then return stallText(where, p.token) end
  if hs then return illegalAnswer(where, hs, "OUT") end
  return where .. " did not answer " .. amount .. " (isochronous, or the data was damaged)."
end

local function transactionItems(t)
  local rows, p = {}, {}
  local children, skipped = childrenOf(t, MAX_PACKETS)
  for _, h in ipairs(children) do
    local c = node(h)
    if c then
      if c.type and not p[c.type] then p[c.type] = c end
      addPacketRows(rows, c)
    end
  end
  local items = {
    para((outcome(t, p):gsub("^%l", string.upper))),
    tbl(tostring(t.subType) .. " transaction", { "Packet", "PID and details" }, rows),
  }
  if skipped > 0 then
    items[#items + 1] = para(plural(skipped, "packet") .. " before the last one are not listed.")
  end
  local b = bytesOf(p.data)
  if t.subType == "SETUP" and #b == 8 then
    items[#items + 1] = setupTable(parseSetup(b, t.handle, p.token and p.token.addr))
  end
  return items
end

---------------------------------------------------------------------------
-- Decode functions

local function resetDecode(t)
  local duration = t.duration or 0
  local text = "Bus reset: the host held both data lines low (SE0) for " .. ticksText(duration) .. "."
  -- A device takes an SE0 as a reset from 2.5 us on: only then is its address gone.
  if duration < 2.5 * TICKS_PER_US then
    text = text .. " That is shorter than the 2.5 us a device needs to see a reset."
  else
    if duration < 10000 * TICKS_PER_US then text = text .. " Hosts drive a reset for at least 10 ms." end
    text = text .. " Afterwards the device answers at address 0 until SET_ADDRESS."
  end
  return join({
    para(text),
    tbl("Bus reset", { "Field", "Value" }, {
      { "SE0 time", timeText(duration) },
      { "SE0 bits", plural(duration, "bit time") },
      { "Idle after", timeText(t.idleTicks or 0) },
      { "Idle bits", plural(t.idleTicks or 0, "bit time") },
    }),
  })
end

local function sofDecode(t)
  return join({
    para("Start of frame " .. tostring(t.frame) .. ". The host sends one SOF every millisecond; the 11-bit frame"
      .. " number wraps after 2047. A full-speed device that sees no traffic for 3 ms suspends, so SOFs also keep it awake."),
    tbl("Start of frame", { "Field", "Value" }, {
      { "PID", pidText(t.pid) .. (t.pid == 5 and "" or ", not the SOF PID") },
      { "Frame", tostring(t.frame) .. " (" .. hex4(t.frame or 0) .. ")" },
      { "CRC5", valueText(hex2(t.crc5 or 0), crcText(t.crcOK)) },
    }),
  })
end

local function tokenDecode(t)
  local p = PID[t.pid]
  return join({
    para(pidName(t.pid) .. " token to device " .. tostring(t.addr) .. ", endpoint " .. tostring(t.endp) .. ": "
      .. (p and p[2] or "unknown token") .. "."),
    tbl("Token packet", { "Field", "Value" }, {
      { "PID", pidCell(t.pid) },
      { "ADDR", valueText(tostring(t.addr), t.addr == 0 and "default address" or "") },
      { "ENDP", valueText(tostring(t.endp), t.endp == 0 and "control endpoint" or "") },
      { "CRC5", valueText(hex2(t.crc5 or 0), crcText(t.crcOK)) },
    }),
  })
end

local function dataDecode(t)
  local d = bytesOf(t)
  local items = {
    para(pidName(t.pid) .. " packet with " .. plural(#d, "byte") .. " of payload"
      .. (#d == 0 and ". A zero-length packet is a short packet that ends a transfer, or the data packet of a"
        .. " control transfer's status stage: the handshake after it is what acknowledges." or ".")),
    tbl("Data packet", { "Field", "Value" }, {
      { "PID", pidCell(t.pid) },
      { "Length", plural(#d, "byte") .. " of payload" },
      { "CRC16", valueText(hex4(t.crc16 or 0), crcText(t.crcOK)) },
    }),
  }
  local parent = node(t.parent)
  if parent and parent.subType == "SETUP" and #d == 8 then
    local token = packetsOf(parent).token
    items[#items + 1] = setupTable(parseSetup(d, t.handle, token and token.addr))
  elseif #d > 0 then
    table.move(dumpItems("Payload", d, "payload"), 1, 2, #items + 1, items)
  end
  return join(items)
end

local function handshakeDecode(t)
  local p = PID[t.pid]
  local parent = node(t.parent)
  local setup = parent and parent.subType == "SETUP" and t.pid ~= 2
  return join({
    para(pidName(t.pid) .. " handshake: " .. (p and p[2] or "unknown PID") .. "."
      .. (setup and " After a SETUP it breaks the protocol: a device must accept every SETUP with ACK." or "")),
    tbl("Handshake packet", { "Field", "Value" }, { { "PID", pidCell(t.pid) } }),
  })
end

local function transactionDecode(t)
  return join(transactionItems(t))
end

-- Why stageBytes did not count a data packet, in a Stages row of its own.
local NOT_COUNTED = { ["repeat"] = "repeated %s (lost ACK)", turn = "%s out of turn", pid = "%s, no toggle" }

local function transferDecode(t)
  local trxs = {}
  local children, skipped = childrenOf(t, MAX_TRANSACTIONS)
  for _, h in ipairs(children) do
    local c = node(h)
    if c and c.type == "transaction" then trxs[#trxs + 1] = { row = c, p = packetsOf(c) } end
  end
  local setupTrx
  for _, x in ipairs(trxs) do
    if x.row.subType == "SETUP" then setupTrx = x break end
  end
  local b = setupTrx and bytesOf(setupTrx.p.data) or {}
  if #b ~= 8 then
    return para("Control transfer of " .. plural(#trxs, "transaction")
      .. ", but no SETUP transaction with an 8-byte request was captured: the request cannot be decoded.")
  end
  local s = parseSetup(b, t.handle, setupTrx.p.token and setupTrx.p.token.addr)
  local st = stageBytes(s, trxs)
  local d = st.bytes

  local rows, listed, stalled, naks, repeats, outOfTurn = {}, 0, false, 0, 0, 0
  for i, x in ipairs(trxs) do
    local hs = x.p.handshake and x.p.handshake.pid
    local n = #bytesOf(x.p.data)
    local stage = x.row.subType == "SETUP" and "Setup" or x.row.subType == st.dataType and "Data" or "Status"
    local why = st.skipped[i]
    if hs == 14 then stalled = true end
    if hs == 10 then naks = naks + 1 end
    if why == "repeat" then repeats = repeats + 1 elseif why then outOfTurn = outOfTurn + 1 end
    if listed < MAX_STAGE_ROWS then
      listed = listed + 1
      rows[#rows + 1] = { stage, x.row.subType .. ", " .. (x.p.data and plural(n, "byte") or "no data")
        .. ", " .. (hs and pidName(hs) or "none") }
      if why then rows[#rows + 1] = { "Uncounted", string.format(NOT_COUNTED[why], pidName(x.p.data.pid)) } end
    end
  end

  local target = setupTrx.p.token and ("device " .. setupTrx.p.token.addr .. ", endpoint " .. setupTrx.p.token.endp) or "the device"
  local sender = st.dataType == "IN" and "The device" or "The host"
  local summary = requestTitle(s) .. " to " .. target .. ". "
  if s.wLength > 0 and s.deviceToHost then
    summary = summary .. sender .. " sent " .. plural(st.count, "byte") .. " of the " .. s.wLength .. " asked for. "
  elseif s.wLength > 0 then
    summary = summary .. sender .. " sent " .. st.count .. " of the " .. plural(s.wLength, "byte") .. " announced. "
  elseif st.count > 0 then
    summary = summary .. sender .. " sent " .. plural(st.count, "byte") .. " though wLength 0 announces no data stage. "
  end
  if repeats > 0 then
    summary = summary .. sender .. " sent " .. plural(repeats, "data packet") .. " again with the same toggle"
      .. " (after a lost ACK): each is counted once. "
  end
  if outOfTurn > 0 then
    summary = summary .. plural(outOfTurn, "data packet") .. " with a toggle out of turn "
      .. (outOfTurn == 1 and "is" or "are") .. " not counted. "
  end
  if st.success then
    summary = summary .. "The status stage was acknowledged: the request completed."
  elseif stalled then
    summary = summary .. "The device answered STALL: it does not support this request (or not in its present state)."
  else
    summary = summary .. "No acknowledged status stage was seen: the request did not complete."
  end
  if naks > 0 then summary = summary .. " " .. plural(naks, "NAK") .. " while the device was busy." end
  if s.kind == 0 and s.bRequest == 5 then
    if s.wValue > 127 then
      summary = summary .. " wValue " .. s.wValue .. " is not a valid address (1 to 127)."
    elseif st.success then
      summary = summary .. " From now on the device answers at "
        .. (s.wValue == 0 and "the default address 0." or "address " .. s.wValue .. ".")
    end
  end
  if s.kind == 0 and s.bRequest == 9 then
    if st.success then
      summary = summary .. ((s.wValue & 0xff) == 0 and " The device is back in the address state."
        or " The device is configured: its endpoints may now be used.")
    end
    if s.wValue > 0xff then
      summary = summary .. " The reserved high byte of wValue is " .. hex2(s.wValue >> 8) .. ", not zero."
    end
  end

  local items = {
    para(summary),
    setupTable(s),
    tbl("Stages", { "Stage", "Transaction, bytes, handshake" }, rows),
  }
  local total = #trxs + skipped
  if listed < total then
    items[#items + 1] = para("The Stages table lists " .. listed .. " of the " .. plural(total, "transaction")
      .. (skipped > 0 and (": " .. skipped .. " before the last one were not looked at.") or "."))
  end
  if st.count > #d then
    items[#items + 1] = para("Only the first " .. #d .. " bytes of the data stage are decoded.")
  end
  -- Bytes where no data stage was announced answer nothing that was asked.
  local stageItems = s.wLength == 0 and #d > 0
      and { tbl("Data stage", { "Offset", "Bytes and ASCII" }, dumpRows(d, MAX_DUMP_BYTES)) } or dataStageItems(s, d)
  for _, item in ipairs(stageItems) do items[#items + 1] = item end
  return join(items)
end

---------------------------------------------------------------------------
-- Every decode function answers with text: a failure shows as a paragraph.

local function protect(name, fn)
  _G[name] = function(t)
    local ok, result = pcall(fn, t)
    if ok and type(result) == "string" then return result end
    if ok then result = "the decoder returned " .. type(result) .. " instead of text" end
    return para("Decode script error in " .. name .. ": " .. tostring(result))
  end
end

protect("reset_decode", resetDecode)
protect("sof_decode", sofDecode)
protect("token_decode", tokenDecode)
protect("data_decode", dataDecode)
protect("handshake_decode", handshakeDecode)
protect("transaction_decode", transactionDecode)
protect("transfer_decode", transferDecode)

---------------------------------------------------------------------------
-- Start-up self-test: the program calls myAdd(30.0, 12.0) once, after this
-- file has run, to show that calls into the scripts work. Its result (42.0)
-- is not used.

function myAdd(a, b)
  return a + b
end
