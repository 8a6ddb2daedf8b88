#include "binxml_values.h"

#include "binxml.h"
#include "formats/little_endian.h"

#include <cstring>

// The memory is kept from one event to the next, and grows by half again at least.
void EventBytes::makeRoom(size_t size) {
    if (own_.size() - size_ < size || own_.size() < size_)
        own_.resize(size_ + size + (size_ + size) / 2);
    if (!owned_ && size_ > 0) // a copy of what is referred to, to add to
        std::memcpy(own_.data(), data_, size_);
    owned_ = 1;
    data_ = own_.data();
}

namespace binxml {

int sameName(const uint8_t* units, uint16_t count, const char* ascii) {
    size_t length = std::strlen(ascii);
    if (count != length)
        return 0;
    for (size_t i = 0; i < length; ++i)
        if (readLe16(units + 2 * i) != static_cast<unsigned char>(ascii[i]))
            return 0;
    return 1;
}

uint64_t numberOfText(const TypedValue& v) {
    uint64_t n = 0;
    uint32_t i = 0, base = 10;
    if (v.size >= 4 && readLe16(v.bytes) == '0' && (readLe16(v.bytes + 2) | 0x20) == 'x') {
        i = 2;
        base = 16;
    }
    for (; 2 * i + 1 < v.size && i < 24; ++i) { // no number has more digits
        uint16_t c = readLe16(v.bytes + 2 * i);
        uint16_t lower = c | 0x20;
        int digit = c >= '0' && c <= '9'                         ? c - '0'
                    : base == 16 && lower >= 'a' && lower <= 'f' ? lower - 'a' + 10
                                                                 : -1;
        if (digit < 0)
            break;
        n = n * base + static_cast<uint64_t>(digit);
    }
    return n;
}

namespace {

// Latin-1 text, as UTF-16LE.
void appendLatin1(EventBytes& out, const uint8_t* text, size_t count) {
    uint8_t* units = out.extend(2 * count);
    for (size_t i = 0; i < count; ++i) {
        units[2 * i] = text[i];
        units[2 * i + 1] = 0;
    }
}

void appendAscii(EventBytes& out, const char* text) {
    appendLatin1(out, reinterpret_cast<const uint8_t*>(text), std::strlen(text));
}

// A number in decimal or upper-case hexadecimal, of width digits at least: its UTF-16LE units are
// written from the last.
void appendNumber(EventBytes& out, uint64_t n, int hex, int width = 0) {
    uint8_t units[48];
    size_t i = sizeof units;
    if (hex) {
        do {
            units[--i] = 0;
            units[--i] = static_cast<uint8_t>("0123456789ABCDEF"[n & 15]);
            n >>= 4;
            --width;
        } while (n > 0 || width > 0);
    } else {
        do {
            units[--i] = 0;
            units[--i] = static_cast<uint8_t>('0' + n % 10);
            n /= 10;
            --width;
        } while (n > 0 || width > 0);
    }
    std::memcpy(out.extend(sizeof units - i), units + i, sizeof units - i);
}

} // namespace

void appendFormatted(EventBytes& out, const TypedValue& v) {
    switch (v.type & ~ArrayFlag) {
    case NullType:
        return;
    case AnsiStringType: {
        uint32_t count = 0;
        while (count < v.size && v.bytes[count])
            ++count;
        appendLatin1(out, v.bytes, count);
        return;
    }
    case Int8Type:
        if (v.size >= 1 && static_cast<int8_t>(v.bytes[0]) < 0) {
            appendAscii(out, "-");
            appendNumber(out, static_cast<uint64_t>(-static_cast<int8_t>(v.bytes[0])), 0);
            return;
        }
        break;
    case Int16Type:
        if (v.size >= 2 && static_cast<int16_t>(readLe16(v.bytes)) < 0) {
            appendAscii(out, "-");
            appendNumber(out, static_cast<uint64_t>(-static_cast<int16_t>(readLe16(v.bytes))), 0);
            return;
        }
        break;
    case Int32Type:
        if (v.size >= 4 && static_cast<int32_t>(readLe32(v.bytes)) < 0) {
            appendAscii(out, "-");
            appendNumber(out, 0u - static_cast<uint64_t>(static_cast<int32_t>(readLe32(v.bytes))),
                         0);
            return;
        }
        break;
    case Int64Type:
        if (v.size >= 8 && static_cast<int64_t>(readLe64(v.bytes)) < 0) {
            appendAscii(out, "-");
            appendNumber(out, 0u - readLe64(v.bytes), 0);
            return;
        }
        break;
    case BoolType:
        appendAscii(out, numberOf(v) ? "true" : "false");
        return;
    case HexInt32Type:
    case HexInt64Type:
        appendAscii(out, "0x");
        appendNumber(out, numberOf(v), 1, (v.type & ~ArrayFlag) == HexInt64Type ? 16 : 8);
        return;
    case GuidType:
        if (v.size >= 16) {
            appendAscii(out, "{");
            appendNumber(out, readLe32(v.bytes), 1, 8);
            appendAscii(out, "-");
            appendNumber(out, readLe16(v.bytes + 4), 1, 4);
            appendAscii(out, "-");
            appendNumber(out, readLe16(v.bytes + 6), 1, 4);
            appendAscii(out, "-");
            for (int i = 8; i < 16; ++i) {
                if (i == 10)
                    appendAscii(out, "-");
                appendNumber(out, v.bytes[i], 1, 2);
            }
            appendAscii(out, "}");
        }
        return;
    case SidType:
        if (v.size >= 8 && v.size >= 8u + 4u * v.bytes[1]) {
            appendAscii(out, "S-");
            appendNumber(out, v.bytes[0], 0);
            appendAscii(out, "-");
            uint64_t authority = 0;
            for (int i = 2; i < 8; ++i)
                authority = authority << 8 | v.bytes[i];
            appendNumber(out, authority, 0);
            for (uint32_t i = 0; i < v.bytes[1]; ++i) {
                appendAscii(out, "-");
                appendNumber(out, readLe32(v.bytes + 8 + 4 * i), 0);
            }
        }
        return;
    case BinaryType:
        for (uint32_t i = 0; i < v.size; ++i)
            appendNumber(out, v.bytes[i], 1, 2);
        return;
    default:
        break;
    }
    if ((v.type & ~ArrayFlag) >= Int8Type && (v.type & ~ArrayFlag) <= UInt64Type)
        appendNumber(out, numberOf(v), 0);
    else if ((v.type & ~ArrayFlag) == SizeType || (v.type & ~ArrayFlag) == FileTimeType)
        appendNumber(out, numberOf(v), 0);
}

namespace {

int hexDigit(uint16_t unit) {
    uint16_t c = unit | 0x20;
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

} // namespace

void appendBytes(EventBytes& out, const TypedValue& v) {
    if (v.type == BinaryType) {
        out.add(v.bytes, v.size);
        return;
    }
    if (v.type != StringType)
        return;
    size_t digits = 0;
    for (uint32_t i = 0; 2 * i + 1 < v.size; ++i)
        digits += hexDigit(readLe16(v.bytes + 2 * i)) >= 0;
    uint8_t* bytes = out.extend(digits / 2);
    int high = -1;
    for (uint32_t i = 0; 2 * i + 1 < v.size; ++i) {
        int digit = hexDigit(readLe16(v.bytes + 2 * i));
        if (digit < 0)
            continue;
        if (high < 0) {
            high = digit;
        } else {
            *bytes++ = static_cast<uint8_t>(high << 4 | digit);
            high = -1;
        }
    }
}

uint64_t fileTimeOfText(const TypedValue& v) {
    int field[6] = {0, 0, 0, 0, 0, 0};
    int f = 0;
    for (uint32_t i = 0; 2 * i + 1 < v.size && f < 6 && i < 40; ++i) {
        uint16_t c = readLe16(v.bytes + 2 * i);
        if (c >= '0' && c <= '9' && field[f] < 100000)
            field[f] = field[f] * 10 + (c - '0');
        else if (c >= '0' && c <= '9')
            return 0;
        else if (c == '.' || c == 'Z')
            break;
        else
            ++f;
    }
    int64_t y = field[0], m = field[1], d = field[2];
    if (y < 1601 || m < 1 || m > 12 || d < 1 || d > 31)
        return 0;
    // Days since 1601-01-01 by the proleptic Gregorian calendar.
    y -= m <= 2;
    int64_t era = y / 400, yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 584754;
    int64_t seconds = days * 86400 + field[3] * 3600 + field[4] * 60 + field[5];
    return seconds < 0 ? 0 : static_cast<uint64_t>(seconds) * 10000000u;
}

} // namespace binxml
