// Loading configuration text into the model: from a file (by default the
// file named after the host executable, with the extension "jot") or from a
// caller's text.
#include <cstring>

#include "config/config_parser.h"
#include "config/line_reader.h"
#include "kor/mix.h"
#include "platform/platform.h"

namespace {

// Appends text to buf (size bytes, NUL-terminated) when it fits whole.
bool append_fitting(char* buf, size_t size, const char* text) {
    size_t used = std::strlen(buf);
    size_t n = std::strlen(text);
    if (used + n + 1 > size)
        return false;
    std::memcpy(buf + used, text, n + 1);
    return true;
}

// The default configuration file: the executable's directory, '/', and its
// name with the extension replaced by "jot" (".jot" appended when the name
// has no extension). False when the path does not fit the buffer.
bool default_file_name(char* buf, size_t size) {
    std::memset(buf, 0, size);
    const char* dir = mix_n::get_exe_dir(nullptr);
    if (dir && !(append_fitting(buf, size, dir) && append_fitting(buf, size, "/")))
        return false;
    const char* name = mix_n::get_exe_name(nullptr);
    if (name && !append_fitting(buf, size, name))
        return false;
    // Only a '.' of the file name itself starts an extension: directories
    // may hold dots (".local") while the executable's name has none.
    char* base = buf;
    for (char* p = buf; *p; ++p)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    char* dot = std::strrchr(base, '.');
    if (dot) {
        dot[1] = 0;
        return append_fitting(buf, size, "jot");
    }
    return append_fitting(buf, size, ".jot");
}

}  // namespace

void config_parser_c::_append_summary(tr_stream_c& messages, unsigned errors) {
    messages.append("Incomplete result. ").append(errors).append(" error").append(errors == 1 ? " is" : "s are");
}

const char* config_parser_c::map_config_file(plat_mapping_s* mapping) {
    if (!mapping)
        return nullptr;
    mapping->data = nullptr;
    if (!config_file_name || !*config_file_name)
        return nullptr;
    if (!plat_map_file(config_file_name, mapping))
        return nullptr;
    if (mapping->size == 0) {
        // An empty file cannot be mapped.
        plat_unmap_file(mapping);
        mapping->data = nullptr;
        return nullptr;
    }
    return mapping->data;
}

bool config_parser_c::load_file(const char* path, tr_stream_c& messages, bool& opened) {
    if (path) {
        char* copy = str_list_c::copy_string(path);
        delete[] config_file_name;
        config_file_name = copy;
    } else if (!config_file_name) {
        char buf[KOR_MAX_PATH];
        if (default_file_name(buf, sizeof(buf)))
            config_file_name = str_list_c::copy_string(buf);
    }

    plat_mapping_s mapping;
    std::memset(&mapping, 0, sizeof(mapping));
    const char* view = config_file_name ? map_config_file(&mapping) : nullptr;
    if (!view) {
        messages.append("Unable to open katrace configuration file ");
        if (config_file_name && *config_file_name)
            messages.append(config_file_name);
        messages.append("\r\n");
        opened = false;
        return false;
    }
    opened = true;
    unsigned errors;
    {
        tr_m_line_reader_c reader(view);
        errors = parse_lines(reader, messages);
    }
    if (errors > 0) {
        _append_summary(messages, errors);
        messages.append(" found during parsing of katrace config file ").append(config_file_name).append("\r\n");
    }
    plat_unmap_file(&mapping);
    return errors == 0;
}

bool config_parser_c::parse_text(const char* text, tr_stream_c& messages) {
    if (!text || !*text)
        return false;
    unsigned errors;
    {
        tr_m_line_reader_c reader(text);
        errors = parse_lines(reader, messages);
    }
    if (errors > 0) {
        _append_summary(messages, errors);
        messages.append(" found during parsing of output string \"").append(text).append("\"").append("\r\n");
    }
    return errors == 0;
}
