// name_index_c: the name-to-first-element index beside an ordered list.
//
// The index trusts itself only while it has seen exactly as many elements
// as the list holds and nobody invalidated it; otherwise the next lookup
// walks the list once and starts afresh. Adds reported through added() keep
// it current, so a parse that stores n new names costs O(n) in all.
#include "config/name_index.h"

std::string name_index_c::key_(const char* name) const {
    std::string key(name);
    if (fold_case_)
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

void name_index_c::rebuild_(ptr_list_c& list) {
    first_.clear();
    ptr_list_c::position_t pos = nullptr;
    const unsigned n = list.num();
    void* e = list.first(&pos);
    for (unsigned i = 0; i < n; ++i, e = list.next(&pos)) {
        const char* name = e ? name_of_(e) : nullptr;
        // emplace keeps the earlier element of a name met twice.
        if (name) first_.emplace(key_(name), e);
    }
    counted_ = n;
    valid_ = true;
}

void* name_index_c::find(ptr_list_c& list, const char* name) {
    if (!name) return nullptr;
    if (!valid_ || counted_ != list.num()) rebuild_(list);
    auto it = first_.find(key_(name));
    return it == first_.end() ? nullptr : it->second;
}

void name_index_c::added(ptr_list_c& list, void* element, bool front) {
    if (!valid_ || counted_ + 1 != list.num()) {
        valid_ = false;
        return;
    }
    ++counted_;
    const char* name = element ? name_of_(element) : nullptr;
    if (!name) return;
    if (front)
        first_[key_(name)] = element;  // now the first of its name
    else
        first_.emplace(key_(name), element);
}
