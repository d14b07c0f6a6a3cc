// name_index_c: a hash index of the names held by an ordered list, so that
// "is this name already in the list" costs O(1) instead of a walk. The list
// keeps its order (and so the precedence of its entries); the index only
// answers which element is the first one in list order with a given name.
#ifndef KATRACE_CONFIG_NAME_INDEX_H
#define KATRACE_CONFIG_NAME_INDEX_H

#include <string>
#include <unordered_map>

#include "kor/ptr_list.h"

class name_index_c {
public:
    // The name an element carries (null: the element is not indexed).
    typedef const char* (*name_of_f)(void* element);

    // fold_case: names compare ignoring ASCII case, else byte for byte.
    name_index_c(name_of_f name_of, bool fold_case) : name_of_(name_of), fold_case_(fold_case) {}

    // The first element of list (in list order) whose name equals name;
    // null when none or when name is null. Rebuilds the index from the list
    // first when the list changed other than through added().
    void* find(ptr_list_c& list, const char* name);
    // Records an element just inserted at the front (front) or appended.
    void added(ptr_list_c& list, void* element, bool front);
    // Forgets everything; the next find rebuilds from the list.
    void invalidate() { valid_ = false; }

private:
    std::string key_(const char* name) const;
    void rebuild_(ptr_list_c& list);

    std::unordered_map<std::string, void*> first_;  // name key -> first element with it
    name_of_f name_of_;
    bool fold_case_;
    bool valid_ = false;
    unsigned counted_ = 0;  // list elements the index has seen (named or not)
};

#endif
