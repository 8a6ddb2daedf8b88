// What a walk over a damaged .evtx file says of the damage it met.
#include "evtx_file.h"

#include <string>

namespace {

// "chunk 3" or "chunks 1, 4 and 9" (1-based), the first few of a long list only.
std::string chunkList(const std::vector<size_t>& chunks) {
    const size_t kNamed = 5;
    std::string text = chunks.size() == 1 ? "chunk " : "chunks ";
    size_t named = chunks.size() > kNamed ? kNamed - 1 : chunks.size();
    for (size_t i = 0; i < named; ++i) {
        if (i > 0)
            text += i + 1 == chunks.size() ? " and " : ", ";
        text += std::to_string(chunks[i] + 1);
    }
    if (named < chunks.size())
        text += " and " + std::to_string(chunks.size() - named) + " more";
    return text;
}

} // namespace

std::string EvtxFile::damageText() const {
    std::string text;
    const std::string of = " of " + std::to_string(chunkCount_);
    if (!damaged_.empty())
        text += chunkList(damaged_) + of + " read as far as " +
                (damaged_.size() == 1 ? "its" : "their") + " records decode";
    if (!skipped_.empty())
        text += (text.empty() ? "" : "; ") + chunkList(skipped_) + (text.empty() ? of : "") +
                " passed over";
    return text;
}
