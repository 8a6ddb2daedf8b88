// Typed values of binary XML as the event needs them: as text, as a number, as bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace binxml {

// A typed value: literal text in the XML, or one of a template instance's substitutions.
struct TypedValue {
    uint8_t type;
    const uint8_t* bytes;
    uint32_t size;
};

// Whether the UTF-16LE name of count units is the ASCII text.
int sameName(const uint8_t* units, uint16_t count, const char* ascii);
// Appends count UTF-16LE units.
void appendUnits(std::u16string& out, const uint8_t* units, size_t count);

// A number from a value: its integer types, or decimal or 0x-hexadecimal text.
uint64_t numberOf(const TypedValue& v);
// A value as the text of an insertion string.
void appendText(std::u16string& out, const TypedValue& v);
// At least the units appendText gives for a value, and the steps it takes.
uint64_t textUnitsBound(const TypedValue& v);
// Binary data from a value: its bytes, or hexadecimal text.
void appendBytes(std::vector<uint8_t>& out, const TypedValue& v);
// Text "2022-06-08T23:48:10.8321722Z" as a FILETIME, for events written without templates.
uint64_t fileTimeOfText(const TypedValue& v);

} // namespace binxml
