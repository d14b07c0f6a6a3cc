// config_parser_c: the parsed configuration of the trace library (default
// rank, module/file/class/function rank rules, thread rules, additional rank
// names, log file settings, output switches), together with the parser and
// the loader that fill it and the rank filter that reads it.
//
// The object has no lock of its own: the trace manager's reader-writer lock
// guards it as a whole. Each of the five rule lists additionally has its own
// critical section, held (kor_lock_c over cs()) around every search or walk,
// so that concurrent evaluations under the reader lock do not share a cursor.
#ifndef KATRACE_CONFIG_PARSER_H
#define KATRACE_CONFIG_PARSER_H

#include "config/name_index.h"
#include "config/rank_tables.h"
#include "config/str_list.h"
#include "kor/ptr_list.h"
#include "support/tr_stream.h"

class tr_m_line_reader_c;
struct plat_mapping_s;

class config_parser_c {
public:
    // ------------------------------------------------------------ records

    // Rank rule for one name (module, file, class or function; may be a
    // wildcard pattern). Construction stores a copy of the name (null allowed).
    struct log_rank_s {
        char* name;             // owned; null for the temporary default-rank record
        bool relative;          // rank text began with '+' or '-'; true after construction
        unsigned add_ranks;     // ranks added (or the whole set when not relative)
        unsigned remove_ranks;  // ranks removed; 0 in a stored absolute rule

        explicit log_rank_s(const char* name);
        virtual ~log_rank_s();
    private:
        log_rank_s(const log_rank_s&) = delete;
        log_rank_s& operator=(const log_rank_s&) = delete;
    };

    // A module: a named group of source files with a rank rule.
    struct module_rank_s : public log_rank_s {
        str_list_c content;  // file names (plain, at the front) and patterns (at the end)

        explicit module_rank_s(const char* name)
            : log_rank_s(name), content_index(&content_name, true) {}
        ~module_rank_s() override {}
        // Adds an item not yet in content (ignoring ASCII case): a plain name
        // at the front, a pattern at the end. False when it was there already.
        bool add_content(const char* item);
    private:
        static const char* content_name(void* element) { return static_cast<const char*>(element); }
        name_index_c content_index;  // content items, case folded
    };

    // Thread rule; reuses the storage of log_rank_s: relative is `enabled`,
    // add_ranks is `sys_id`, remove_ranks is `appl_id`. `name` is the thread
    // name (or pattern) for rules by name, null for rules by id.
    class thread_rank_c : private log_rank_s {
    public:
        thread_rank_c(const char* name, unsigned sys_id, unsigned appl_id, bool enabled);
        ~thread_rank_c() override {}
        using log_rank_s::name;
        bool enabled() const { return relative; }
        unsigned sys_id() const { return add_ranks; }
        unsigned appl_id() const { return remove_ranks; }
        // The element a list holds for this rule, and back.
        log_rank_s* as_rule() { return this; }
        static thread_rank_c* from_element(void* element) { return element ? static_cast<thread_rank_c*>(static_cast<log_rank_s*>(element)) : nullptr; }
    };

    // ------------------------------------------------------------- lists

    // A list of rule records with its own critical section; owns the records
    // (destroyed through their virtual destructors). Elements are log_rank_s*
    // (for modules the module_rank_s, for threads thread_rank_c::as_rule()).
    // A hash index of the names sits beside the list, so that finding a
    // stored rule by name does not walk the list; the list's order (and so
    // the rules' precedence) is its own.
    class log_rank_list_c : public ptr_list_c {
    public:
        log_rank_list_c() : ptr_list_c(true), index_(&name_of, false) {}
        ~log_rank_list_c() override;
        // The rule record behind a list element.
        static log_rank_s* rule_of(void* element) { return static_cast<log_rank_s*>(element); }
        // Unlinks and destroys every record (holding the critical section).
        void destroy_all();
        // The first record (in list order) named exactly name; null when
        // none. The caller holds the critical section.
        log_rank_s* find_named(const char* name) { return rule_of(index_.find(*this, name)); }
        // Exchanges the records (and their index) with other in O(1).
        void swap_elements(log_rank_list_c& other);

        // Adds keep the index current; every other change makes it rebuild.
        void append(void* data) override;
        void insert(void* data) override;
        void* remove_current(position_t* pos = nullptr) override;
        void* remove_current_move_back(position_t* pos = nullptr) override;
        bool set_data(void* data, position_t* pos = nullptr) override;
        bool copy(const ptr_list_c& other) override;
        void sort(compare_f compare) override;
        void clear() override;
    private:
        static const char* name_of(void* element) { return rule_of(element)->name; }
        name_index_c index_;
    };

    // ------------------------------------------------------------- fields
    // (in this order; destruction releases them in reverse after config_file_name)

    tr_stream_c token;  // scratch: the keyword or value the parser looks at
    // Where the rank-rule warnings go: null (the default) for the standard
    // error stream; a tool that reports them itself (katr_check) sets a
    // stream of its own. Not copied with the configuration.
    tr_stream_c* warnings = nullptr;
    log_rank_list_c module_ranks;      // module_rank_s
    log_rank_list_c file_ranks;        // log_rank_s by source file name
    log_rank_list_c class_ranks;       // log_rank_s by class name
    log_rank_list_c function_ranks;    // log_rank_s by function name
    log_rank_list_c thread_ranks;      // thread_rank_c, all with one `enabled` value
    str_list_c additional_ranks;       // additional rank names in order, at most 18
    char* config_file_name;            // owned; file last loaded into this object, may be null
    tr_stream_c log_directory;         // empty when not configured
    bool add_pid_to_log_filename;      // false
    unsigned long long log_file_size;  // 5242880
    unsigned log_files_to_keep;        // 5
    unsigned default_rank;             // 14 (fatal, error, warning)
    unsigned screen_ranks;             // 0
    unsigned debugger_ranks;           // 0xFFFFFFFF
    bool print_file;                   // false
    bool print_function;               // true
    bool print_line;                   // false
    bool print_time;                   // true
    bool keep_stack;                   // false
    bool do_indentation;               // false
    // Log shipping. shipping_set says which of the three a text gave (the
    // report shows only those).
    bool log_naming_stable;        // false: LogFileNaming rename
    unsigned log_retention_grace;  // 0 seconds
    bool print_sequence;           // false
    unsigned shipping_set;         // SHIPPING_* bits
    enum {
        SHIPPING_NAMING = 1,
        SHIPPING_GRACE = 2,
        SHIPPING_SEQUENCE = 4
    };
    // The black box. black_box_set says which of the three a text gave
    // (the report shows only those).
    unsigned long long black_box_size;  // 0: no black box
    unsigned black_box_ranks;           // RANK_ALL: every rank, trace included
    unsigned black_box_on_error;        // 0 events
    unsigned black_box_set;             // BLACK_BOX_* bits
    enum {
        BLACK_BOX_SIZE = 1,
        BLACK_BOX_RANK = 2,
        BLACK_BOX_ON_ERROR = 4
    };
    // The sizes BlackBoxSize takes besides 0.
    static const unsigned long long BLACK_BOX_MIN = 1ull << 20, BLACK_BOX_MAX = 4ull << 30;

    config_parser_c();
    virtual ~config_parser_c();

    // ------------------------------------------------ read accessors
    const char* get_log_directory() const { return log_directory.c_str(); }
    bool get_add_pid_to_log_filename() const { return add_pid_to_log_filename; }
    unsigned long long get_log_file_size() const { return log_file_size; }
    unsigned get_log_files_to_keep() const { return log_files_to_keep; }
    bool get_log_naming_stable() const { return log_naming_stable; }
    unsigned get_log_retention_grace() const { return log_retention_grace; }
    bool get_print_sequence() const { return print_sequence; }
    unsigned long long get_black_box_size() const { return black_box_size; }
    unsigned get_black_box_ranks() const { return black_box_ranks; }
    unsigned get_black_box_on_error() const { return black_box_on_error; }

    // ------------------------------------------------ tables and rules
    static unsigned find_rank_mask(const char* name) { return ::find_rank_mask(name); }
    static const char* find_rank_name(unsigned mask) { return ::find_rank_name(mask); }
    static unsigned keyword_id(const char* text) { return ::keyword_id(text); }
    static const char* keyword_name(unsigned id) { return ::keyword_name(id); }
    // 1 << (position + 13) of the name in additional_ranks (exact); 0 when absent.
    unsigned additional_rank_mask(const char* name);
    // The rank-name table first, then the additional ranks; 0 when neither knows it.
    unsigned rank_mask_of(const char* name);

    // A name is a pattern when it holds a character other than a letter, a
    // digit or '_', except a '.' followed by exactly "h", "hpp", "c" or "cpp"
    // (ignoring case). Tests text, or the record's name when text is null.
    static bool is_pattern_name(const log_rank_s* record, const char* text);
    // Merges a new rule into a stored rule of the same name (the caller
    // destroys the new one).
    static void merge_rank_rule(log_rank_s& stored, const log_rank_s& added);
    // Stores a record (taking ownership): a record whose name the list already
    // holds (byte-wise) is merged into the stored one when merge is true, or
    // dropped as a duplicate when false, and destroyed; a new record goes to
    // the front when its name is plain, to the end when it is a pattern.
    // Returns true when the record itself was stored. The list's critical
    // section is held throughout.
    static bool store_rank_rule(log_rank_list_c& list, log_rank_s* record, bool merge = true);

    // ------------------------------------------------ rank filter
    // The rank mask for a trace site. Either name may be null. The caller
    // holds the manager's lock; many threads may evaluate at once.
    unsigned evaluate_rank(const char* function_name, const char* file_name);
    // The class part of a function name ("ns::Conn::send" gives "ns::Conn");
    // false (out emptied) when there is none.
    static bool class_name_of(const char* function_name, tr_stream_c& out);
    // The first module whose content matches the file name; null when none.
    module_rank_s* find_module(const char* file_name);

    // ------------------------------------------------ parser
    // Parses every line of the reader into this object; appends one message
    // per bad line to messages; returns the number of counted errors.
    unsigned parse_lines(tr_m_line_reader_c& reader, tr_stream_c& messages);
    // Handlers (each appends its own messages; returns whether the line counts as good).
    bool handle_module_content(tr_m_line_reader_c& reader, tr_stream_c& messages);
    bool handle_rank_rule(unsigned id, tr_m_line_reader_c& reader, tr_stream_c& messages);
    bool handle_thread_rule(unsigned id, tr_m_line_reader_c& reader, tr_stream_c& messages);
    bool handle_additional_ranks(tr_m_line_reader_c& reader, tr_stream_c& messages);
    bool handle_output_ranks(unsigned id, tr_m_line_reader_c& reader, tr_stream_c& messages);
    bool handle_black_box(unsigned id, tr_m_line_reader_c& reader, tr_stream_c& messages);
    // The rank list reader and its consistency check (warnings to stderr).
    bool read_rank_list(log_rank_s& record, tr_m_line_reader_c& reader);
    bool check_rank_rule(log_rank_s& record, const char* line);
    // "on"/"off" or the support library's words, ignoring case; reads into token.
    bool read_config_boolean(tr_m_line_reader_c& reader, bool& value);

    // ------------------------------------------------ loader
    // Loads a configuration file (null: config_file_name, or the default
    // name beside the executable with the extension replaced by "jot").
    // opened tells whether the file could be read; true when parsed without
    // counted errors. Appends to messages, never clears it.
    bool load_file(const char* path, tr_stream_c& messages, bool& opened);
    // Parses a caller's text; false for a null or empty text (no message)
    // and when errors were counted.
    bool parse_text(const char* text, tr_stream_c& messages);
    // Maps config_file_name read-only; the NUL-terminated text, or null.
    // The caller releases the mapping with plat_unmap_file.
    const char* map_config_file(plat_mapping_s* mapping);

private:
    config_parser_c(const config_parser_c&) = delete;
    config_parser_c& operator=(const config_parser_c&) = delete;
    // Appends "Error in config data line \"", the current line and reason.
    void _report_line(tr_m_line_reader_c& reader, tr_stream_c& messages, const char* reason);
    // "Incomplete result. n error(s) ... found during parsing of "
    static void _append_summary(tr_stream_c& messages, unsigned errors);
};

// A deep copy of config (every field but the parser's scratch token), or
// null when out of memory. Reads config with own positions only, so rank
// evaluations may run on it meanwhile; nothing may change it meanwhile.
config_parser_c* copy_config(config_parser_c& config);
// Exchanges the whole content of two configurations (lists, texts,
// settings) in O(1); each object keeps its identity and its critical
// sections. The caller keeps both from use meanwhile.
void swap_config(config_parser_c& a, config_parser_c& b);

// The configuration report: the model written back as text (LF line ends).
// Empties out and writes the report of config.
void config_report(config_parser_c& config, tr_stream_c& out);
// Appends the section of one rule list (id 5 modules, 7 files, 8 classes, 9 functions).
void rule_list_report(config_parser_c& config, tr_stream_c& out, unsigned id,
                      config_parser_c::log_rank_list_c& list);
// Appends the names of the ranks in mask, each followed by a space, separated
// by separator (also before the first when leading).
void rank_list(config_parser_c& config, tr_stream_c& out, unsigned mask, char separator, bool leading);

#endif
