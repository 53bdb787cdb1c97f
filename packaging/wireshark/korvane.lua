-- Wireshark dissector for the Korvane device protocol: raw Ethernet II frames
-- of EtherType 0x5152 between Korvane Utility and the devices it manages.
--
-- Every frame has a 40-byte head (version, code, parameter, status, a 16-byte
-- password field, the data length), then its data and, in a request, two zero
-- bytes. All numbers are big-endian. The display-filter name is "korvane".
--
-- Installed by the korvane-utility package into Wireshark's global plugin
-- folder; to use this copy instead, put it in ~/.local/lib/wireshark/plugins/
-- or run: tshark -X lua_script:korvane.lua -r session.pcap
--
-- Passwords are never shown: the password field and the new password of a
-- set-password block are reported as present or absent. Recordings made with
-- --capture have them overwritten with 0xFF bytes already ("masked"), and
-- the set-password block's checksum with them (it is the password's sum).

-- When two copies are found (the installed one and a user's own), the first
-- one loaded registers the protocol and the second steps aside.
local registered, korvane = pcall(Proto, "korvane", "Korvane device protocol")
if not registered then
    return
end

-- Offsets below count from the end of the Ethernet header (frame offset 14),
-- where Wireshark hands the protocol its bytes: the head's 26 bytes after it.
local HEAD = 26
local TAIL = 2
local SETTINGS_MARK = 0x21472174
local FIRMWARE_BLOCK = 1024
local UNPATCHED_FLAG = 0x00010000

local code_names = {
    [0x0001] = "Boot query",
    [0x0002] = "Boot reply",
    [0x1001] = "Discovery",
    [0x1002] = "Discovery reply",
    [0x2001] = "Write settings",
    [0x2002] = "Read settings",
    [0x2003] = "Settings reply",
    [0x3001] = "Firmware block",
    [0x3003] = "Firmware reply",
    [0x3005] = "End of firmware",
    [0x4001] = "Firmware programmed notice",
    [0x7001] = "Check password",
    [0x7002] = "Set password",
    [0x7003] = "Password reply",
    [0xF0F0] = "Write factory block",
    [0xF000] = "Factory reply",
}

-- What the utility sends; the rest come from devices.
local requests = {
    [0x0001] = true, [0x1001] = true, [0x2001] = true, [0x2002] = true,
    [0x3001] = true, [0x3005] = true, [0x7001] = true, [0x7002] = true, [0xF0F0] = true,
}

-- A reply's data length field is not always filled in: the utility takes as
-- many bytes as the request asked for, so the dissector does the same.
local reply_sizes = { [0x0002] = 8, [0x1002] = 128, [0x2003] = 68 }

local status_names = {
    [0] = "Failure",
    [1] = "Password refused",
    [2] = "Done",
    [3] = "Busy",
    [4] = "Done after a pause",
}

local address_modes = { [1] = "DHCP", [2] = "BOOTP" }

local header_flags = {
    [0] = "Factory block valid, patched with the unit's MAC",
    [UNPATCHED_FLAG] = "No valid factory block, image sent unpatched",
}

local f = {
    version = ProtoField.uint16("korvane.version", "Version"),
    code = ProtoField.uint16("korvane.code", "Code", base.HEX, code_names),
    parameter = ProtoField.uint16("korvane.parameter", "Parameter"),
    status = ProtoField.uint16("korvane.status", "Status", base.DEC, status_names),
    password = ProtoField.bool("korvane.password", "Password", base.NONE,
                               { "present (not shown)", "absent" }),
    password_masked = ProtoField.bool("korvane.password.masked", "Password masked in the recording"),
    length = ProtoField.uint16("korvane.length", "Data length"),
    data = ProtoField.bytes("korvane.data", "Data"),
    reply_area = ProtoField.bytes("korvane.reply_area", "Room for the reply"),
    tail = ProtoField.bytes("korvane.tail", "Tail"),

    id_number = ProtoField.uint32("korvane.identity.number", "Device number", base.HEX),
    id_mac = ProtoField.ether("korvane.identity.mac", "MAC address"),
    id_serial = ProtoField.uint32("korvane.identity.serial", "Serial number"),
    id_unused = ProtoField.bytes("korvane.identity.unused", "Not used"),
    id_hardware = ProtoField.string("korvane.identity.hardware", "Hardware version"),
    id_firmware = ProtoField.string("korvane.identity.firmware", "Firmware version"),
    id_utility = ProtoField.bytes("korvane.identity.utility_fields", "Utility's own fields"),

    set_mark = ProtoField.uint32("korvane.settings.mark", "Block mark", base.HEX),
    set_checksum = ProtoField.uint32("korvane.settings.checksum", "Checksum", base.HEX),
    set_checksum_status = ProtoField.uint8("korvane.settings.checksum.status", "Checksum status",
                                           base.DEC, { [0] = "Bad", [1] = "Good" }),
    set_version = ProtoField.uint16("korvane.settings.version", "Settings version"),
    set_mode = ProtoField.uint8("korvane.settings.address_mode", "Address mode", base.DEC,
                                address_modes),
    set_gateway = ProtoField.ipv4("korvane.settings.gateway", "Gateway"),
    set_alt_ip = ProtoField.ipv4("korvane.settings.alternate_ip", "Alternate IP address"),
    set_ip = ProtoField.ipv4("korvane.settings.ip", "IP address"),
    set_mask = ProtoField.ipv4("korvane.settings.mask", "Subnet mask"),
    set_http = ProtoField.uint16("korvane.settings.http_port", "HTTP port"),
    set_telnet = ProtoField.uint16("korvane.settings.telnet_port", "Telnet port"),
    set_https = ProtoField.uint16("korvane.settings.https_port", "HTTPS port"),
    set_ssh = ProtoField.uint16("korvane.settings.ssh_port", "SSH port"),
    set_opaque = ProtoField.bytes("korvane.settings.opaque", "Device's own bytes"),
    set_padding = ProtoField.bytes("korvane.settings.padding", "Padding of a 72-byte write"),

    pw_checksum = ProtoField.uint32("korvane.password_block.checksum", "Checksum", base.HEX),
    pw_checksum_status = ProtoField.uint8("korvane.password_block.checksum.status",
                                          "Checksum status", base.DEC,
                                          { [0] = "Bad", [1] = "Good", [2] = "Not checked (masked)" }),
    pw_new = ProtoField.bool("korvane.password_block.new_password", "New password", base.NONE,
                             { "set (not shown)", "cleared" }),

    fa_checksum = ProtoField.uint32("korvane.factory.checksum", "Checksum", base.HEX),
    fa_checksum_status = ProtoField.uint8("korvane.factory.checksum.status", "Checksum status",
                                          base.DEC, { [0] = "Bad", [1] = "Good" }),
    fa_mac = ProtoField.ether("korvane.factory.mac", "New MAC address"),
    fa_serial = ProtoField.uint32("korvane.factory.serial", "New serial number"),
    fa_reserved = ProtoField.uint16("korvane.factory.reserved", "Reserved", base.HEX),
    fa_hardware = ProtoField.string("korvane.factory.hardware", "Hardware version"),

    boot_info = ProtoField.uint32("korvane.boot.info", "Boot information", base.HEX),
    boot_word = ProtoField.uint32("korvane.boot.word", "Flash boot word", base.HEX),
    boot_version = ProtoField.uint16("korvane.boot.version", "Boot version", base.HEX),
    boot_compat = ProtoField.uint8("korvane.boot.compatibility", "Compatibility code"),

    fw_block = ProtoField.uint16("korvane.firmware.block", "Block number"),
    fw_block_length = ProtoField.uint16("korvane.firmware.block_length", "Block length"),
    fw_image = ProtoField.bytes("korvane.firmware.image", "Image bytes"),
    fw_sum = ProtoField.uint32("korvane.firmware.image_sum", "Image sum", base.HEX),
    fw_flag = ProtoField.uint32("korvane.firmware.header_flag", "Header flag", base.HEX,
                                header_flags),
}

local field_list = {}
for _, field in pairs(f) do
    field_list[#field_list + 1] = field
end
korvane.fields = field_list

local e = {
    short = ProtoExpert.new("korvane.short", "Frame shorter than its fields",
                            expert.group.MALFORMED, expert.severity.ERROR),
    checksum = ProtoExpert.new("korvane.checksum.bad", "Bad block checksum",
                               expert.group.CHECKSUM, expert.severity.ERROR),
    mark = ProtoExpert.new("korvane.settings.mark.bad", "Settings block mark is not 0x21472174",
                           expert.group.PROTOCOL, expert.severity.WARN),
    version = ProtoExpert.new("korvane.version.unknown",
                              "Version is not 1: the utility ignores this frame",
                              expert.group.PROTOCOL, expert.severity.WARN),
    code = ProtoExpert.new("korvane.code.unknown", "Unknown code",
                           expert.group.UNDECODED, expert.severity.WARN),
    tail = ProtoExpert.new("korvane.tail.nonzero", "The two bytes after the data are not zero",
                           expert.group.PROTOCOL, expert.severity.WARN),
    block_size = ProtoExpert.new("korvane.firmware.block_size",
                                 "A firmware block holds 1 to 1024 bytes",
                                 expert.group.PROTOCOL, expert.severity.WARN),
    status = ProtoExpert.new("korvane.status.refused", "Request not carried out",
                             expert.group.RESPONSE_CODE, expert.severity.NOTE),
}
korvane.experts = { e.short, e.checksum, e.mark, e.version, e.code, e.tail, e.block_size, e.status }

-- The protocol's 32-bit byte sum, with the four bytes at `skip` (a block's
-- own checksum field) taken as zero.
local function byte_sum(tvb, offset, length, skip)
    local sum = 0
    local bytes = tvb:bytes(offset, length)
    for i = 0, length - 1 do
        if skip == nil or i < skip or i >= skip + 4 then
            sum = sum + bytes:get_index(i)
        end
    end
    return sum % 4294967296
end

local function all_bytes(tvb, offset, length, value)
    local bytes = tvb:bytes(offset, length)
    for i = 0, length - 1 do
        if bytes:get_index(i) ~= value then
            return false
        end
    end
    return true
end

local function mac_text(tvb, offset)
    local parts = {}
    for i = 0, 5 do
        parts[#parts + 1] = string.format("%02X", tvb(offset + i, 1):uint())
    end
    return table.concat(parts, "-")
end

-- Versions are text when the first byte is printable, else four numeric
-- bytes; the firmware's third byte is a letter. The text ends at its first
-- zero byte or at the end of its field, whichever comes first: a text that
-- fills its field has no zero, and what follows belongs to the next field.
local function version_text(tvb, offset, width, firmware)
    local first = tvb(offset, 1):uint()
    if first >= 21 and first <= 127 then
        local bytes = tvb(offset, width):raw()
        local stop = bytes:find("\0", 1, true)
        return stop and bytes:sub(1, stop - 1) or bytes
    end
    local b = { tvb(offset, 1):uint(), tvb(offset + 1, 1):uint(), tvb(offset + 2, 1):uint(),
                tvb(offset + 3, 1):uint() }
    if firmware then
        return string.format("%d.%d.%s%d", b[1], b[2], string.char(b[3]), b[4])
    end
    return string.format("%d.%d.%d.%d", b[1], b[2], b[3], b[4])
end

local function port_text(value, has_none)
    if value == 0xFFFF then
        return "off"
    end
    if value == 0 then
        return has_none and "no such service" or "off"
    end
    return tostring(value)
end

local function add_checksum(tree, pinfo, tvb, offset, field, status_field, computed)
    local stored = tvb(offset, 4):uint()
    local item = tree:add(field, tvb(offset, 4))
    local good = stored == computed
    item:append_text(good and " [correct]" or string.format(" [incorrect, should be 0x%08x]", computed))
    tree:add(status_field, tvb(offset, 4), good and 1 or 0):set_generated()
    if not good then
        item:add_proto_expert_info(e.checksum)
    end
    return good
end

local function dissect_identity(tvb, pinfo, tree, offset, length)
    local t = tree:add(korvane, tvb(offset, length), "Device identity")
    t:add(f.id_number, tvb(offset, 4))
    t:add(f.id_mac, tvb(offset + 4, 6))
    t:add(f.id_serial, tvb(offset + 6, 4)):set_generated()
    t:add(f.id_unused, tvb(offset + 10, 2))
    t:add(f.id_hardware, tvb(offset + 12, 16), version_text(tvb, offset + 12, 16, false))
    t:add(f.id_firmware, tvb(offset + 28, 32), version_text(tvb, offset + 28, 32, true))
    if length > 60 then
        t:add(f.id_utility, tvb(offset + 60, length - 60))
    end
    return string.format("%s, serial %u, hardware %s, firmware %s", mac_text(tvb, offset + 4),
                         tvb(offset + 6, 4):uint(), version_text(tvb, offset + 12, 16, false),
                         version_text(tvb, offset + 28, 32, true))
end

local function dissect_settings(tvb, pinfo, tree, offset, length)
    local t = tree:add(korvane, tvb(offset, length), "Settings block")
    local mark = t:add(f.set_mark, tvb(offset, 4))
    if tvb(offset, 4):uint() ~= SETTINGS_MARK then
        mark:add_proto_expert_info(e.mark)
    end
    add_checksum(t, pinfo, tvb, offset + 4, f.set_checksum, f.set_checksum_status,
                 byte_sum(tvb, offset + 8, length - 8))
    local version = tvb(offset + 8, 2):uint()
    local vitem = t:add(f.set_version, tvb(offset + 8, 2))
    if version > 750 then
        vitem:append_text(" (above 750: taken as 0)")
        version = 0
    end
    t:add(f.set_opaque, tvb(offset + 10, 13))
    local mode = tvb(offset + 23, 1):uint()
    local mode_item = t:add(f.set_mode, tvb(offset + 23, 1))
    if address_modes[mode] == nil then
        mode_item:set_text(string.format("Address mode: Static address (%d)", mode))
    end
    t:add(f.set_gateway, tvb(offset + 24, 4))
    t:add(f.set_alt_ip, tvb(offset + 28, 4))
    t:add(f.set_ip, tvb(offset + 32, 4))
    t:add(f.set_mask, tvb(offset + 36, 4))
    local ports = {
        { f.set_http, 40, false, "HTTP" }, { f.set_telnet, 42, false, "Telnet" },
        { f.set_https, 44, true, "HTTPS" }, { f.set_ssh, 46, true, "SSH" },
    }
    for _, p in ipairs(ports) do
        local item = t:add(p[1], tvb(offset + p[2], 2))
        local value = tvb(offset + p[2], 2):uint()
        if value == 0xFFFF or value == 0 then
            item:append_text(" (" .. port_text(value, p[3]) .. ")")
        end
        -- The device keeps the HTTP and Telnet fields only from settings version 32 on.
        if (p[4] == "HTTP" or p[4] == "Telnet") and version <= 31 then
            item:append_text(" [not used below settings version 32]")
        end
    end
    t:add(f.set_opaque, tvb(offset + 48, 20))
    if length > 68 then
        t:add(f.set_padding, tvb(offset + 68, length - 68))
    end
    local mode_text = address_modes[mode] or "static"
    local ip = tvb(offset + 32, 4):ipv4()
    return string.format("%s %s", mode_text, tostring(ip))
end

local function dissect_password_block(tvb, pinfo, tree, offset)
    local t = tree:add(korvane, tvb(offset, 24), "Password block")
    local masked = all_bytes(tvb, offset + 4, 20, 0xFF)
    if masked then
        -- The recording masks the checksum with the password: it is the
        -- password's byte sum.
        t:add(f.pw_checksum, tvb(offset, 4)):append_text(" [masked with the password]")
        t:add(f.pw_checksum_status, tvb(offset, 4), 2):set_generated()
        t:add(f.password_masked, tvb(offset + 4, 20), true):set_generated()
    else
        add_checksum(t, pinfo, tvb, offset, f.pw_checksum, f.pw_checksum_status,
                     byte_sum(tvb, offset, 24, 0))
    end
    local set = not all_bytes(tvb, offset + 4, 20, 0)
    t:add(f.pw_new, tvb(offset + 4, 20), set)
    return set and "new password set" or "password cleared"
end

local function dissect_factory_block(tvb, pinfo, tree, offset)
    local t = tree:add(korvane, tvb(offset, 28), "Factory block")
    add_checksum(t, pinfo, tvb, offset, f.fa_checksum, f.fa_checksum_status,
                 byte_sum(tvb, offset, 28, 0))
    t:add(f.fa_mac, tvb(offset + 4, 6))
    t:add(f.fa_serial, tvb(offset + 6, 4)):set_generated()
    t:add(f.fa_reserved, tvb(offset + 10, 2))
    t:add(f.fa_hardware, tvb(offset + 12, 16), version_text(tvb, offset + 12, 16, false))
    return string.format("MAC %s, serial %u", mac_text(tvb, offset + 4), tvb(offset + 6, 4):uint())
end

local function dissect_boot_reply(tvb, pinfo, tree, offset)
    local t = tree:add(korvane, tvb(offset, 8), "Boot information")
    t:add(f.boot_info, tvb(offset, 4))
    local word = t:add(f.boot_word, tvb(offset + 4, 4))
    -- The high half is the boot version, the low byte the compatibility code.
    word:add(f.boot_version, tvb(offset + 4, 2))
    word:add(f.boot_compat, tvb(offset + 7, 1))
    local value = tvb(offset + 4, 4):uint()
    return string.format("boot version 0x%04x, compatibility %d", math.floor(value / 65536),
                         value % 256)
end

local function dissect_end_of_firmware(tvb, pinfo, tree, offset)
    local t = tree:add(korvane, tvb(offset, 8), "End of transfer")
    t:add(f.fw_sum, tvb(offset, 4))
    t:add(f.fw_flag, tvb(offset + 4, 4))
    return string.format("image sum 0x%08x", tvb(offset, 4):uint())
end

-- The data of one frame, by its code. Returns text for the Info column, or
-- nil when the frame is short of the data its code needs.
local function dissect_data(code, tvb, pinfo, tree, offset, length, parameter)
    if code == 0x1002 and length >= 60 then
        return dissect_identity(tvb, pinfo, tree, offset, length)
    elseif (code == 0x2001 or code == 0x2003) and length >= 68 then
        return dissect_settings(tvb, pinfo, tree, offset, length)
    elseif code == 0x7002 and length >= 24 then
        return dissect_password_block(tvb, pinfo, tree, offset)
    elseif code == 0xF0F0 and length >= 28 then
        return dissect_factory_block(tvb, pinfo, tree, offset)
    elseif code == 0x0002 and length >= 8 then
        return dissect_boot_reply(tvb, pinfo, tree, offset)
    elseif code == 0x3005 and length >= 8 then
        return dissect_end_of_firmware(tvb, pinfo, tree, offset)
    elseif code == 0x3001 then
        local t = tree:add(korvane, tvb(offset, length), "Firmware block")
        t:add(f.fw_block, tvb(4, 2), parameter):set_generated()
        local litem = t:add(f.fw_block_length, tvb(24, 2), length):set_generated()
        if length == 0 or length > FIRMWARE_BLOCK then
            litem:add_proto_expert_info(e.block_size)
        end
        if length > 0 then
            t:add(f.fw_image, tvb(offset, length))
        end
        return string.format("%d (%d bytes)", parameter, length)
    end
    -- Codes whose requests or replies carry no data.
    local needs = { [0x1002] = 60, [0x2001] = 68, [0x7002] = 24, [0xF0F0] = 28, [0x3005] = 8 }
    if needs[code] ~= nil and requests[code] then
        return nil
    end
    if length > 0 then
        tree:add(f.data, tvb(offset, length))
    end
    return ""
end

function korvane.dissector(tvb, pinfo, tree)
    pinfo.cols.protocol = "KORVANE"
    local size = tvb:reported_length_remaining()
    local root = tree:add(korvane, tvb(), "Korvane device protocol")
    if size < HEAD then
        -- The discovery request is the one frame under 42 bytes, and even it holds the head.
        root:add_proto_expert_info(e.short, string.format("Frame of %d bytes is shorter than the "
                                                          .. "40-byte head", size + 14))
        pinfo.cols.info = "Short frame"
        return size
    end
    local head = root:add(korvane, tvb(0, HEAD), "Head")
    local version = tvb(0, 2):uint()
    local code = tvb(2, 2):uint()
    local parameter = tvb(4, 2):uint()
    local status = tvb(6, 2):uint()
    local declared = tvb(24, 2):uint()

    local vitem = head:add(f.version, tvb(0, 2))
    if version ~= 1 then
        vitem:add_proto_expert_info(e.version)
    end
    local citem = head:add(f.code, tvb(2, 2))
    local name = code_names[code]
    if name == nil then
        citem:add_proto_expert_info(e.code)
        name = string.format("Unknown code 0x%04x", code)
    end
    head:add(f.parameter, tvb(4, 2))
    local is_request = requests[code] == true
    local sitem = head:add(f.status, tvb(6, 2))
    if is_request then
        sitem:set_text(string.format("Status: %d (not used in a request)", status))
    elseif code ~= 0x4001 and status ~= 2 and status ~= 4 then
        sitem:add_proto_expert_info(e.status)
    end
    local masked = all_bytes(tvb, 8, 16, 0xFF)
    head:add(f.password, tvb(8, 16), not all_bytes(tvb, 8, 16, 0))
    if masked then
        head:add(f.password_masked, tvb(8, 16), true):set_generated()
    end
    head:add(f.length, tvb(24, 2))

    -- Where the data ends: a request says so in its length field; a reply
    -- may leave that field zero and carry what its request asked for.
    local available = size - HEAD
    local length = declared
    if not is_request and declared == 0 and reply_sizes[code] ~= nil
        and available >= reply_sizes[code] then
        length = reply_sizes[code]
    end
    if length > available then
        root:add_proto_expert_info(e.short, string.format("Data length %d, but only %d bytes follow "
                                                          .. "the head", length, available))
        length = available
    end

    local detail = dissect_data(code, tvb, pinfo, root, HEAD, length, parameter)
    if detail == nil then
        root:add_proto_expert_info(e.short, string.format("%s needs more than the %d data bytes "
                                                          .. "it carries", name, length))
        detail = ""
    end

    -- A request with no data but a known reply size leaves room for the reply.
    local after = HEAD + length
    if is_request and declared == 0 and code ~= 0x1001 then
        local room = ({ [0x0001] = 8, [0x2002] = 68 })[code]
        if room ~= nil and available >= room then
            root:add(f.reply_area, tvb(after, room))
            after = after + room
        end
    end
    if is_request and code ~= 0x1001 then
        if size >= after + TAIL then
            local titem = root:add(f.tail, tvb(after, TAIL))
            if tvb(after, TAIL):uint() ~= 0 then
                titem:add_proto_expert_info(e.tail)
            end
        end
    end

    local info = name
    if not is_request and code ~= 0x4001 then
        info = string.format("%s: %s", name, status_names[status] or tostring(status))
        if detail ~= "" then
            info = info .. ", " .. detail
        end
    elseif detail ~= "" then
        info = info .. " " .. detail
    end
    if is_request and code ~= 0x1001 then
        info = info .. (all_bytes(tvb, 8, 16, 0) and " (no password)" or " (with password)")
    end
    pinfo.cols.info = info
    root:append_text(", " .. name)
    return size
end

DissectorTable.get("ethertype"):add(0x5152, korvane)
