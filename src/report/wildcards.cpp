#include "wildcards.h"

#include <algorithm>

namespace {

WCHAR foldUnit(WCHAR c) {
    return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c + 32) : c;
}

} // namespace

// A piece that is compared where it stands, not searched.
Wildcards::Piece Wildcards::anchored(size_t at, size_t length) {
    Piece piece = {};
    piece.at = at;
    piece.length = length;
    return piece;
}

Wildcards::Wildcards(const WCHAR* pattern, size_t length) {
    size_t pieceAt = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && pattern[i] != '*') {
            units_.push_back(foldUnit(pattern[i]));
            continue;
        }
        size_t pieceLength = units_.size() - pieceAt;
        if (!starred_)
            first_ = anchored(pieceAt, pieceLength);
        else if (i == length)
            last_ = anchored(pieceAt, pieceLength);
        else if (pieceLength > 0)
            addSearch(pieceAt, pieceLength);
        starred_ |= i < length;
        pieceAt = units_.size();
    }
}

// The piece's masks: the bits of its ? for a unit it does not hold, and for each unit it holds
// those bits and the unit's own.
void Wildcards::addSearch(size_t at, size_t length) {
    Piece piece = {};
    piece.at = at;
    piece.length = length;
    piece.words = (length + 63) / 64;
    piece.unitsAt = pieceUnits_.size();
    piece.masksAt = masks_.size();
    piece.asciiAt = asciiMasks_.size();
    for (size_t i = 0; i < length; ++i)
        if (units_[at + i] != '?')
            pieceUnits_.push_back(units_[at + i]);
    auto begin = pieceUnits_.begin() + static_cast<ptrdiff_t>(piece.unitsAt);
    std::sort(begin, pieceUnits_.end());
    pieceUnits_.erase(std::unique(begin, pieceUnits_.end()), pieceUnits_.end());
    piece.unitCount = pieceUnits_.size() - piece.unitsAt;
    // Names are mostly ASCII: their units find their masks without a search.
    asciiMasks_.resize(piece.asciiAt + 128);
    for (size_t i = 0; i < piece.unitCount; ++i)
        if (static_cast<char16_t>(pieceUnits_[piece.unitsAt + i]) < 128)
            asciiMasks_[piece.asciiAt + static_cast<char16_t>(pieceUnits_[piece.unitsAt + i])] =
                static_cast<uint32_t>(1 + i);
    masks_.resize(masks_.size() + (piece.unitCount + 1) * piece.words);
    for (size_t i = 0; i < length; ++i) {
        uint64_t bit = uint64_t(1) << (i % 64);
        WCHAR unit = units_[at + i];
        // A ? is in every mask; any other unit in its own.
        size_t first = 0, last = piece.unitCount;
        if (unit != '?')
            first = last =
                1 + static_cast<size_t>(std::lower_bound(begin, pieceUnits_.end(), unit) - begin);
        for (size_t mask = first; mask <= last; ++mask)
            masks_[piece.masksAt + mask * piece.words + i / 64] |= bit;
    }
    between_.push_back(piece);
}

int Wildcards::begins(const Piece& piece, const WCHAR* text) const {
    const WCHAR* units = units_.data() + piece.at;
    for (size_t i = 0; i < piece.length; ++i)
        if (units[i] != '?' && units[i] != foldUnit(text[i]))
            return 0;
    return 1;
}

const uint64_t* Wildcards::maskOf(const Piece& piece, WCHAR unit) const {
    size_t mask = 0;
    if (static_cast<char16_t>(unit) < 128) {
        mask = asciiMasks_[piece.asciiAt + static_cast<char16_t>(unit)];
    } else {
        const WCHAR* begin = pieceUnits_.data() + piece.unitsAt;
        const WCHAR* end = begin + piece.unitCount;
        const WCHAR* found = std::lower_bound(begin, end, unit);
        if (found != end && *found == unit)
            mask = 1 + static_cast<size_t>(found - begin);
    }
    return masks_.data() + piece.masksAt + mask * piece.words;
}

// Where the piece's leftmost match in text[from, to) ends; SIZE_MAX when there is none. Bit i of
// the state is set when the piece's first i + 1 units match the units up to the one just read.
size_t Wildcards::findEnd(const Piece& piece, const WCHAR* text, size_t from, size_t to) const {
    if (to - from < piece.length)
        return SIZE_MAX;
    const size_t words = piece.words;
    const uint64_t found = uint64_t(1) << ((piece.length - 1) % 64);
    if (words == 1) {
        uint64_t state = 0;
        for (size_t i = from; i < to; ++i) {
            state = ((state << 1) | 1) & *maskOf(piece, foldUnit(text[i]));
            if (state & found)
                return i + 1;
        }
        return SIZE_MAX;
    }
    uint64_t local[16] = {}; // a piece of at most 1,024 units
    std::vector<uint64_t> longer;
    uint64_t* state = local;
    if (words > sizeof local / sizeof local[0]) {
        longer.assign(words, 0);
        state = longer.data();
    }
    for (size_t i = from; i < to; ++i) {
        const uint64_t* mask = maskOf(piece, foldUnit(text[i]));
        uint64_t carry = 1;
        for (size_t w = 0; w < words; ++w) {
            uint64_t next = state[w] >> 63;
            state[w] = ((state[w] << 1) | carry) & mask[w];
            carry = next;
        }
        if (state[words - 1] & found)
            return i + 1;
    }
    return SIZE_MAX;
}

int Wildcards::matches(const WCHAR* text) const {
    size_t length = wcslen(text);
    if (!starred_)
        return length == first_.length && begins(first_, text);
    if (length < first_.length + last_.length || !begins(first_, text) ||
        !begins(last_, text + length - last_.length))
        return 0;
    size_t from = first_.length;
    const size_t to = length - last_.length;
    for (const Piece& piece : between_) {
        from = findEnd(piece, text, from, to);
        if (from == SIZE_MAX)
            return 0;
    }
    return 1;
}
