#include "time_format.h"

#include <vector>

namespace {

// A strftime format cut into conversions ("%H") and literal text.
struct Piece {
    int field; // 1 for a conversion
    std::string text;
};

std::vector<Piece> split(const std::string& format) {
    std::vector<Piece> pieces;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            size_t at = i + 1;
            while (at + 1 < format.size() &&
                   (format[at] == 'E' || format[at] == 'O' || format[at] == '-' ||
                    format[at] == '_' || format[at] == '0' || format[at] == '^'))
                ++at; // modifiers and flags: the conversion is the letter after them
            if (format[at] == '%')
                pieces.push_back({0, "%"});
            else
                pieces.push_back({1, std::string("%") + format[at]});
            i = at;
        } else if (!pieces.empty() && !pieces.back().field) {
            pieces.back().text += format[i];
        } else {
            pieces.push_back({0, std::string(1, format[i])});
        }
    }
    return pieces;
}

std::string expand(const std::string& tfmt) {
    std::string out;
    for (const Piece& p : split(tfmt)) {
        if (p.text == "%T")
            out += "%H:%M:%S";
        else if (p.text == "%r")
            out += "%I:%M:%S %p";
        else if (p.text == "%R")
            out += "%H:%M";
        else if (p.field || p.text != "%")
            out += p.text;
        else
            out += "%%";
    }
    return out;
}

// Literal text back in strftime form.
void appendLiteral(std::string& out, const std::string& text) {
    for (char c : text)
        out += c == '%' ? std::string("%%") : std::string(1, c);
}

} // namespace

std::string twentyFourHourFormat(const std::string& tfmt, int withSeconds) {
    std::vector<Piece> pieces = split(expand(tfmt));
    std::string out;
    int afterLeadingMarker = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Piece& p = pieces[i];
        if (afterLeadingMarker && !p.field) { // "%p %I:%M": the space after the marker goes too
            afterLeadingMarker = 0;
            size_t start = p.text.find_first_not_of(' ');
            if (start == std::string::npos)
                continue;
            appendLiteral(out, p.text.substr(start));
            continue;
        }
        afterLeadingMarker = 0;
        int marker = p.text == "%p" || p.text == "%P";
        int dropSeconds = !withSeconds && p.text == "%S";
        if (marker || dropSeconds) {
            // The literal text before dropped seconds goes with them, and the spaces before a
            // marker with it.
            size_t literal = i > 0 && !pieces[i - 1].field ? pieces[i - 1].text.size() : 0;
            for (; literal > 0 && !out.empty() && (dropSeconds || out.back() == ' '); --literal)
                out.pop_back();
            afterLeadingMarker = marker && out.empty();
            continue;
        }
        if (p.text == "%I")
            out += "%H";
        else if (p.text == "%l")
            out += "%k";
        else if (p.field)
            out += p.text;
        else
            appendLiteral(out, p.text);
    }
    return out;
}

std::string timePicture(const std::string& tfmt) {
    std::string out;
    for (const Piece& p : split(expand(tfmt))) {
        if (p.field) {
            char c = p.text[1];
            out += c == 'H'               ? "HH"
                   : c == 'k'             ? "H"
                   : c == 'I'             ? "hh"
                   : c == 'l'             ? "h"
                   : c == 'M'             ? "mm"
                   : c == 'S'             ? "ss"
                   : c == 'p' || c == 'P' ? "tt"
                                          : "";
            continue;
        }
        // Letters are fields in the picture language: literal ones are quoted.
        for (char c : p.text) {
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '\'')
                out += std::string("'") + c + "'";
            else
                out += c;
        }
    }
    return out;
}

std::string timeSeparator(const std::string& tfmt) {
    std::vector<Piece> pieces = split(expand(tfmt));
    for (size_t i = 0; i + 4 < pieces.size(); ++i) {
        const std::string& hour = pieces[i].text;
        const Piece& first = pieces[i + 1];
        const Piece& second = pieces[i + 3];
        if ((hour == "%H" || hour == "%k" || hour == "%I" || hour == "%l") && !first.field &&
            pieces[i + 2].text == "%M" && !second.field && second.text == first.text &&
            pieces[i + 4].text == "%S")
            return first.text;
    }
    return ":";
}
