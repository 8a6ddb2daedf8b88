// Typed values of binary XML as the event needs them: as text, as a number, as bytes.
#pragma once

#include "binxml.h"
#include "formats/little_endian.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace binxml {

// A typed value: literal text in the XML, or one of a template instance's substitutions.
struct TypedValue {
    const uint8_t* bytes;
    uint32_t size;
    uint8_t type;
};

// Whether the UTF-16LE name of count units is the ASCII text.
int sameName(const uint8_t* units, uint16_t count, const char* ascii);

inline uint64_t readLe64(const uint8_t* p) {
    return readLe32(p) | static_cast<uint64_t>(readLe32(p + 4)) << 32;
}

// A number from decimal or 0x-hexadecimal text.
uint64_t numberOfText(const TypedValue& v);
// A number from a value: its integer types, or text as numberOfText reads it.
inline uint64_t numberOf(const TypedValue& v) {
    const uint8_t* p = v.bytes;
    switch (v.type) {
    case Int8Type:
    case UInt8Type:
        return v.size >= 1 ? p[0] : 0;
    case Int16Type:
    case UInt16Type:
        return v.size >= 2 ? readLe16(p) : 0;
    case Int32Type:
    case UInt32Type:
    case HexInt32Type:
    case BoolType:
        return v.size >= 4 ? readLe32(p) : 0;
    case Int64Type:
    case UInt64Type:
    case HexInt64Type:
    case FileTimeType:
        return v.size >= 8 ? readLe64(p) : 0;
    case SizeType:
        return v.size >= 8 ? readLe64(p) : v.size >= 4 ? readLe32(p) : 0;
    case StringType:
        return numberOfText(v);
    default:
        return 0;
    }
}
// A value of any type but a string written out as text, in UTF-16LE.
void appendFormatted(EventBytes& out, const TypedValue& v);
// The bytes of a string's units without the zero units that end it (the terminator some writers
// include).
inline uint32_t textBytes(const TypedValue& v) {
    uint32_t count = v.size / 2;
    while (count > 0 && readLe16(v.bytes + 2 * (count - 1)) == 0)
        --count;
    return 2 * count;
}
// A value as the text of an insertion string, in UTF-16LE: a string as it is, without the
// terminator some writers include; other types written out.
inline void appendText(EventBytes& out, const TypedValue& v) {
    if ((v.type & ~ArrayFlag) != StringType) {
        appendFormatted(out, v);
        return;
    }
    out.add(v.bytes, textBytes(v));
}
// At least the units appendText gives for a value, and the steps it takes.
inline uint64_t textUnitsBound(const TypedValue& v) {
    switch (v.type & ~ArrayFlag) {
    case StringType:
        return v.size / 2;
    case AnsiStringType:
        return v.size;
    case BinaryType:
        return 2u * static_cast<uint64_t>(v.size);
    default: // numbers, a GUID, a SID (11 units for each 4 bytes)
        return 48u + 3u * static_cast<uint64_t>(v.size);
    }
}
// Binary data from a value: its bytes, or hexadecimal text.
void appendBytes(EventBytes& out, const TypedValue& v);
// Text "2022-06-08T23:48:10.8321722Z" as a FILETIME, for events written without templates.
uint64_t fileTimeOfText(const TypedValue& v);

} // namespace binxml
