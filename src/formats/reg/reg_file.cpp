#include "reg_file.h"

namespace {

constexpr size_t kNoValue = static_cast<size_t>(-1);

std::string folded(std::string text) {
    for (char& c : text)
        c = foldAscii(c);
    return text;
}

} // namespace

int equalsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return 0;
    for (size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i]))
            return 0;
    return 1;
}

int isAtOrBelow(const std::string& path, const std::string& prefix) {
    if (path.size() == prefix.size())
        return equalsIgnoringCase(path, prefix);
    return path.size() > prefix.size() && path[prefix.size()] == '\\' &&
           equalsIgnoringCase(path.substr(0, prefix.size()), prefix);
}

int RegFile::keyExists(const std::string& path) const {
    std::string key = folded(path);
    if (keyIndex_.count(key))
        return 1;
    auto below = keyIndex_.lower_bound(key + '\\');
    return below != keyIndex_.end() && below->first.compare(0, key.size() + 1, key + '\\') == 0;
}

RegFileKey* RegFile::findKey(const std::string& path) {
    auto found = keyIndex_.find(folded(path));
    return found == keyIndex_.end() ? nullptr : &keys_[found->second];
}

RegFileKey& RegFile::addKey(const std::string& path) {
    if (RegFileKey* key = findKey(path))
        return *key;
    keyIndex_.emplace(folded(path), keys_.size());
    keys_.push_back(RegFileKey{path, {}, 0});
    return keys_.back();
}

// The key and every key below it: one range of the index, since '\\' + 1 is ']'.
void RegFile::deleteKey(const std::string& path) {
    std::string key = folded(path);
    auto first = keyIndex_.lower_bound(key + '\\'), last = keyIndex_.lower_bound(key + ']');
    auto self = keyIndex_.find(key);
    if (self != keyIndex_.end()) {
        keys_[self->second].removed = 1;
        keyIndex_.erase(self);
        removed_ = 1;
    }
    for (auto it = first; it != last; ++it)
        keys_[it->second].removed = removed_ = 1;
    keyIndex_.erase(first, last);
}

// Most keys hold a few values, looked up by a scan; a key with more gets an index of its own.
constexpr size_t kScannedValues = 8;

size_t RegFile::valuePosition(size_t keyIndex, const std::string& name) const {
    const std::vector<RegFileValue>& values = keys_[keyIndex].values;
    auto index = valueIndex_.find(keyIndex);
    if (index == valueIndex_.end()) {
        for (size_t i = 0; i < values.size(); ++i)
            if (!values[i].removed && equalsIgnoringCase(values[i].name, name))
                return i;
        return kNoValue;
    }
    auto found = index->second.find(folded(name));
    return found == index->second.end() ? kNoValue : found->second;
}

void RegFile::indexValues(size_t keyIndex) {
    const std::vector<RegFileValue>& values = keys_[keyIndex].values;
    std::unordered_map<std::string, size_t>& index = valueIndex_[keyIndex];
    index.clear();
    for (size_t i = 0; i < values.size(); ++i)
        if (!values[i].removed)
            index.emplace(folded(values[i].name), i);
}

const RegFileValue* RegFile::findValue(const std::string& path, const std::string& name) const {
    auto key = keyIndex_.find(folded(path));
    if (key == keyIndex_.end())
        return nullptr;
    size_t position = valuePosition(key->second, name);
    return position == kNoValue ? nullptr : &keys_[key->second].values[position];
}

void RegFile::setValue(const std::string& path, const RegFileValue& value) {
    RegFileKey& key = addKey(path);
    putValue(static_cast<size_t>(&key - keys_.data()), RegFileValue(value));
}

void RegFile::putValue(size_t keyIndex, RegFileValue&& value) {
    std::vector<RegFileValue>& values = keys_[keyIndex].values;
    size_t position = valuePosition(keyIndex, value.name);
    if (position != kNoValue) {
        values[position].type = value.type;
        values[position].data = std::move(value.data);
        return;
    }
    value.removed = 0;
    values.push_back(std::move(value));
    auto index = valueIndex_.find(keyIndex);
    if (index != valueIndex_.end())
        index->second.emplace(folded(values.back().name), values.size() - 1);
    else if (values.size() > kScannedValues)
        indexValues(keyIndex);
}

int RegFile::deleteValue(const std::string& path, const std::string& name) {
    RegFileKey* key = findKey(path);
    if (!key)
        return 0;
    size_t keyIndex = static_cast<size_t>(key - keys_.data());
    size_t position = valuePosition(keyIndex, name);
    if (position == kNoValue)
        return 0;
    key->values[position].removed = removed_ = 1;
    auto index = valueIndex_.find(keyIndex);
    if (index != valueIndex_.end())
        index->second.erase(folded(name));
    return 1;
}

void RegFile::compact() {
    removed_ = 0;
    std::vector<RegFileKey> kept;
    kept.reserve(keys_.size());
    for (RegFileKey& key : keys_) {
        if (key.removed)
            continue;
        std::vector<RegFileValue> values;
        values.reserve(key.values.size());
        for (RegFileValue& value : key.values)
            if (!value.removed)
                values.push_back(std::move(value));
        key.values.swap(values);
        kept.push_back(std::move(key));
    }
    keys_.swap(kept);
    keyIndex_.clear();
    valueIndex_.clear();
    for (size_t k = 0; k < keys_.size(); ++k) {
        keyIndex_.emplace(folded(keys_[k].path), k);
        if (keys_[k].values.size() > kScannedValues)
            indexValues(k);
    }
}
