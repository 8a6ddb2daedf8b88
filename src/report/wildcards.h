// A wildcard pattern over UTF-16 text, as file names take it: * stands for any text, ? for any
// one unit, every other unit for itself, ASCII letters in either case.
#pragma once

#include "platform.h"

#include <cstdint>
#include <vector>

// Taken apart once, a pattern matches a text in time linear in the text's length whatever the
// text holds: the piece before the first star must begin the text and the piece after the last
// end it; each piece between is found at its leftmost place after the one before (which leaves
// the most room for the rest) by a shift-and search, which reads each unit of the text once,
// with a bit for each unit of the piece. A unit of the text costs at most a binary search among
// the piece's units and ceil(m / 64) word steps, m the length of the longest piece between stars
// (a piece longer than the text left is not searched); the pattern's masks take m / 64 words
// for each distinct unit of a piece.
class Wildcards {
  public:
    Wildcards(const WCHAR* pattern, size_t length);
    int matches(const WCHAR* text) const;

  private:
    struct Piece {
        size_t at, length;         // in units_
        size_t words;              // of each of its masks
        size_t unitsAt, unitCount; // its distinct units but ?, sorted, in pieceUnits_
        size_t masksAt;            // in masks_: the mask of ? first, then one for each unit
        size_t asciiAt;            // in asciiMasks_: the mask of each ASCII unit, by number
    };
    static Piece anchored(size_t at, size_t length);
    void addSearch(size_t at, size_t length);
    int begins(const Piece& piece, const WCHAR* text) const;
    const uint64_t* maskOf(const Piece& piece, WCHAR unit) const;
    size_t findEnd(const Piece& piece, const WCHAR* text, size_t from, size_t to) const;

    std::vector<WCHAR> units_; // the pattern without its stars, ASCII letters in lower case
    Piece first_ = {}, last_ = {};
    int starred_ = 0;
    std::vector<Piece> between_; // the pieces between the first star and the last, not empty
    std::vector<WCHAR> pieceUnits_;
    std::vector<uint64_t> masks_; // bit i: the piece's unit i matches
    std::vector<uint32_t> asciiMasks_;
};
