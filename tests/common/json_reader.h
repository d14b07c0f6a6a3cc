// A small JSON reader for tests that check a tool's JSON output where no
// script interpreter can be run (the Windows build under Wine): the whole
// grammar of RFC 8259, values as a tree, nothing beyond.
#ifndef KATR_TEST_JSON_READER_H
#define KATR_TEST_JSON_READER_H

#include <string>
#include <utility>
#include <vector>

struct json_value_s {
    enum kind_e {
        NUL,
        BOOLEAN,
        NUMBER,
        STRING,
        ARRAY,
        OBJECT
    };
    kind_e kind = NUL;
    bool boolean = false;
    double number = 0;
    std::string text;  // a string's UTF-8 bytes
    std::vector<json_value_s> items;
    std::vector<std::pair<std::string, json_value_s>> members;
    // The member named key of an object; null when there is none.
    const json_value_s* get(const std::string& key) const;
};

// Parses the whole text; false with the reason and byte offset in error.
bool json_parse(const std::string& text, json_value_s* out, std::string* error);

#endif
