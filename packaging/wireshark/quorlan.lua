-- SPDX-License-Identifier: Apache-2.0
-- Wireshark dissector (Lua 5.2: no integer division or bit operators) for the Quorlan dispenser protocol inside serial-line
-- captures (link type 250, as `quorlan tap --pcap` writes them): each
-- request's dispenser, kind and fields, each reply's fields, the complement
-- check as a verdict, requests paired with their replies, and the echo a
-- two-wire adapter gives of a request told apart from its reply.
--
-- The numbers mirror link/Protocol.h of the driver; the capture test in
-- tests/cli compares this decoding with the tap's own.

local quorlan = Proto("quorlan", "Quorlan dispenser protocol")

local TRANSMITTED = 0x01 -- the host sent the bytes
local RECEIVED = 0x02    -- the host received them
local HEADER = 12        -- the serial header before the line bytes
local ADDRESS_BIAS = 0x11
local SECOND_ADDRESS_OFFSET = 208
local DISPENSERS = 32

-- command, on the second address, data info bytes, reply info bytes
local KINDS = {
  { name = "status", command = 0xA1, second = false, data = 0, reply = 9 },
  { name = "substatus", command = 0xA1, second = true, data = 0, reply = 1 },
  { name = "release", command = 0xA2, second = true, data = 0, reply = 1 },
  { name = "stop", command = 0xA3, second = false, data = 0, reply = 1 },
  { name = "prices", command = 0xA3, second = true, data = 16, reply = 1 },
  { name = "price1", command = 0xA6, second = false, data = 8, reply = 2 },
  { name = "authorize", command = 0xA4, second = false, data = 0, reply = 1 },
  { name = "preset", command = 0xA5, second = false, data = 9, reply = 2 },
  { name = "totals", command = 0xA9, second = false, data = 1, reply = 11 },
}

local STATES = {
  [0x20] = "finished", [0x24] = "finished", [0x2F] = "no prices", [0x90] = "authorized",
  [0xA0] = "idle", [0x95] = "filling", [0x98] = "filling", [0x99] = "filling",
  [0x9D] = "filling", [0xDC] = "filling", [0xD0] = "stopped", [0xD4] = "stopped",
  [0xF0] = "stopped",
}

local f = {
  direction = ProtoField.string("quorlan.direction", "Direction"),
  dispenser = ProtoField.uint8("quorlan.dispenser", "Dispenser"),
  address = ProtoField.uint8("quorlan.address", "Address byte", base.HEX),
  second = ProtoField.bool("quorlan.second_address", "Second address"),
  command = ProtoField.uint8("quorlan.command", "Command", base.HEX),
  request = ProtoField.string("quorlan.request", "Request"),
  complement = ProtoField.string("quorlan.complement", "Complement check"),
  reply = ProtoField.string("quorlan.reply", "Reply"),
  pair = ProtoField.bytes("quorlan.pair", "Pair"),
  price = ProtoField.string("quorlan.price", "Price"),
  grade = ProtoField.uint8("quorlan.grade", "Grade"),
  grade_price = ProtoField.string("quorlan.grade_price", "Grade price"),
  amount = ProtoField.string("quorlan.amount", "Amount"),
  volume = ProtoField.string("quorlan.volume", "Volume"),
  nozzle = ProtoField.uint8("quorlan.nozzle", "Nozzle"),
  state = ProtoField.string("quorlan.state", "State"),
  status_byte = ProtoField.uint8("quorlan.status_byte", "Status byte", base.HEX),
  volume_total = ProtoField.string("quorlan.volume_total", "Volume total"),
  amount_total = ProtoField.string("quorlan.amount_total", "Amount total"),
  request_in = ProtoField.framenum("quorlan.request_in", "Request in frame", base.NONE,
                                   frametype.REQUEST),
  reply_in = ProtoField.framenum("quorlan.reply_in", "Reply in frame", base.NONE,
                                 frametype.RESPONSE),
  reply_time = ProtoField.double("quorlan.reply_time", "Reply after (ms)"),
}
quorlan.fields = f

local broken_expert = ProtoExpert.new("quorlan.broken_complement", "Broken complement",
                                      expert.group.CHECKSUM, expert.severity.ERROR)
local short_expert = ProtoExpert.new("quorlan.short_reply", "Short reply",
                                     expert.group.MALFORMED, expert.severity.WARN)
local noise_expert = ProtoExpert.new("quorlan.noise", "Bytes that are no frame",
                                     expert.group.PROTOCOL, expert.severity.WARN)
quorlan.experts = { broken_expert, short_expert, noise_expert }

local function address_byte(sub_address)
  return (sub_address - ADDRESS_BIAS) % 256
end

local function decode_address(byte)
  for d = 1, DISPENSERS do
    if address_byte(d) == byte then return d, false end
    if address_byte(d + SECOND_ADDRESS_OFFSET) == byte then return d, true end
  end
  return nil
end

local function find_kind(second, command)
  for _, kind in ipairs(KINDS) do
    if kind.second == second and kind.command == command then return kind end
  end
  return nil
end

-- Info bytes of the line bytes and the first broken pair (0-based), if any.
local function pairs_of(tvb)
  local info, broken = {}, nil
  for i = 0, tvb:len() - 2, 2 do
    local byte, complement = tvb(i, 1):uint(), tvb(i + 1, 1):uint()
    info[#info + 1] = byte
    if broken == nil and byte + complement ~= 0xFF then broken = math.floor(i / 2) end
  end
  return info, broken
end

local function bcd(byte)
  return math.floor(byte / 16) * 10 + byte % 16
end

-- Info bytes [first, last] (1-based), least significant first, two decimals.
local function counter(info, first, last)
  local value = 0
  for i = last, first, -1 do value = value * 100 + bcd(info[i]) end
  return string.format("%d.%02d", math.floor(value / 100), value % 100)
end

-- Pairing state, built on the first pass over the capture.
local request_of = {}  -- reply frame -> {frame, kind, dispenser, time}
local reply_of = {}    -- request frame -> reply frame
local kind_of = {}     -- request frame -> kind
local echo_of = {}     -- echo frame -> request frame
local pending = nil    -- the last request, until a reply arrives

function quorlan.init()
  request_of, reply_of, kind_of, echo_of, pending = {}, {}, {}, {}, nil
end

local function add_pairs(tree, tvb, info_names)
  for i = 0, tvb:len() - 2, 2 do
    local byte, complement = tvb(i, 1):uint(), tvb(i + 1, 1):uint()
    local name = info_names[i / 2 + 1] or string.format("info byte %d", i / 2)
    local verdict = byte + complement == 0xFF and "good" or "BROKEN"
    tree:add(f.pair, tvb(i, 2)):set_text(string.format("%s: 0x%02X, complement 0x%02X (%s)",
                                                        name, byte, complement, verdict))
  end
end

local function complement_verdict(tree, tvb, broken)
  if broken == nil then
    tree:add(f.complement, "good")
  else
    local item = tree:add(f.complement, tvb(broken * 2, 2), "broken at pair " .. broken)
    item:add_proto_expert_info(broken_expert)
  end
end

local function request_fields(tree, tvb, kind, info)
  local d = {}
  for i = 3, #info do d[#d + 1] = info[i] end
  if kind.name == "price1" then
    tree:add(f.price, tvb(4, 4), counter(d, 1, 2))
  elseif kind.name == "prices" then
    for grade = 1, 4 do
      local at = 4 * (grade - 1) + 1
      local price = string.format("%d.%02d", bcd(d[at]), bcd(d[at + 1]))
      tree:add(f.grade_price, tvb(4 + 2 * (at - 1), 8), price):prepend_text("Grade " .. grade .. " ")
    end
  elseif kind.name == "preset" then
    tree:add(f.grade, tvb(4, 2), d[1])
    tree:add(f.price, tvb(6, 4), counter(d, 2, 3))
    tree:add(f.amount, tvb(10, 6), counter(d, 4, 6))
    tree:add(f.volume, tvb(16, 6), counter(d, 7, 9))
  elseif kind.name == "totals" then
    tree:add(f.nozzle, tvb(4, 2), math.floor((d[1] - 0x40) / 2) + 1)
  end
end

local function reply_fields(tree, tvb, kind, info)
  local summary = ""
  if kind.name == "status" then
    local state = STATES[info[9]] or string.format("0x%02X", info[9])
    tree:add(f.state, tvb(16, 2), state)
    tree:add(f.status_byte, tvb(16, 1))
    local amount, volume = counter(info, 3, 5), counter(info, 6, 8)
    tree:add(f.amount, tvb(4, 6), amount)
    tree:add(f.volume, tvb(10, 6), volume)
    summary = string.format(" state %s, amount %s, volume %s", state, amount, volume)
  elseif kind.name == "substatus" then
    tree:add(f.nozzle, tvb(0, 2), info[1] % 8)
    summary = " nozzle " .. (info[1] % 8)
  elseif kind.name == "totals" then
    local volume, amount = counter(info, 1, 5), counter(info, 6, 11)
    tree:add(f.volume_total, tvb(0, 10), volume)
    tree:add(f.amount_total, tvb(10, 12), amount)
    summary = string.format(" volume total %s, amount total %s", volume, amount)
  end
  return summary
end

local function dissect_request(tvb, pinfo, tree)
  local info, broken = pairs_of(tvb)
  local dispenser, second = nil, false
  if #info >= 1 then dispenser, second = decode_address(info[1]) end
  local kind = dispenser and #info >= 2 and find_kind(second, info[2]) or nil
  tree:add(f.direction, "request")
  if kind == nil or broken ~= nil or tvb:len() ~= 2 * (2 + kind.data) then
    tree:add_proto_expert_info(noise_expert)
    pinfo.cols.info = "host bytes that are no request"
    return
  end
  if not pinfo.visited then
    pending = { frame = pinfo.number, kind = kind, dispenser = dispenser, time = pinfo.abs_ts,
                bytes = tvb:bytes():tohex() }
    kind_of[pinfo.number] = kind
  end
  tree:add(f.dispenser, tvb(0, 2), dispenser)
  tree:add(f.address, tvb(0, 1))
  tree:add(f.second, tvb(0, 1), second)
  tree:add(f.command, tvb(2, 1))
  tree:add(f.request, tvb(2, 2), kind.name)
  request_fields(tree, tvb, kind, info)
  complement_verdict(tree, tvb, broken)
  if reply_of[pinfo.number] then tree:add(f.reply_in, reply_of[pinfo.number]) end
  add_pairs(tree:add(quorlan, tvb(), "Pairs"), tvb, { "address", "command" })
  pinfo.cols.info = string.format("dispenser %d %s request", dispenser, kind.name)
end

local function dissect_reply(tvb, pinfo, tree)
  -- The request's own bytes heard back come before its reply, which is
  -- still awaited.
  if not pinfo.visited and pending and tvb:bytes():tohex() == pending.bytes then
    echo_of[pinfo.number] = pending.frame
  end
  if echo_of[pinfo.number] then
    tree:add(f.direction, "echo")
    tree:add(f.request_in, echo_of[pinfo.number])
    pinfo.cols.info = "echo of the request"
    return
  end
  if not pinfo.visited and pending then
    request_of[pinfo.number] = pending
    reply_of[pending.frame] = pinfo.number
    pending = nil
  end
  local request = request_of[pinfo.number]
  tree:add(f.direction, "reply")
  if request == nil then
    tree:add_proto_expert_info(noise_expert)
    pinfo.cols.info = "bytes nobody asked for"
    return
  end
  local kind = request.kind
  local info, broken = pairs_of(tvb)
  tree:add(f.request_in, request.frame)
  tree:add(f.dispenser, request.dispenser)
  tree:add(f.request, kind.name)
  tree:add(f.reply_time, math.floor((pinfo.abs_ts - request.time) * 1e6 + 0.5) / 1000)
  complement_verdict(tree, tvb, broken)
  local expected = 2 * kind.reply
  local verdict, summary
  if broken ~= nil then
    verdict = "broken complement"
  elseif tvb:len() < expected then
    verdict = string.format("short, %d of %d bytes", tvb:len(), expected)
    tree:add_proto_expert_info(short_expert)
  else
    verdict = "valid"
  end
  tree:add(f.reply, verdict)
  if verdict == "valid" then summary = reply_fields(tree, tvb, kind, info) end
  add_pairs(tree:add(quorlan, tvb(), "Pairs"), tvb, {})
  pinfo.cols.info = string.format("dispenser %d %s reply: %s%s", request.dispenser, kind.name,
                                  verdict, (summary and summary ~= "") and (";" .. summary) or "")
end

local encapsulations = DissectorTable.get("wtap_encap")
local serial_line = encapsulations:get_dissector(wtap_encaps.RTAC_SERIAL)

function quorlan.dissector(tvb, pinfo, tree)
  if tvb:len() < HEADER then return 0 end
  -- The serial header keeps Wireshark's own decoding.
  serial_line:call(tvb(0, HEADER):tvb(), pinfo, tree)
  pinfo.cols.protocol = "QUORLAN"
  local event = tvb(8, 1):uint()
  if tvb:len() == HEADER or (event ~= TRANSMITTED and event ~= RECEIVED) then return end
  local payload = tvb(HEADER):tvb()
  local subtree = tree:add(quorlan, payload())
  if event == TRANSMITTED then
    dissect_request(payload, pinfo, subtree)
  else
    dissect_reply(payload, pinfo, subtree)
  end
end

encapsulations:add(wtap_encaps.RTAC_SERIAL, quorlan)
