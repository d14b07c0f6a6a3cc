// The two fixed vocabularies of the configuration: the rank-name table (rank
// names and their masks) and the keyword table (configuration keywords and
// their ids), with their lookups.
#ifndef KATRACE_CONFIG_RANK_TABLES_H
#define KATRACE_CONFIG_RANK_TABLES_H

// One row of the rank-name table.
struct rank_name_s {
    const char* name;
    unsigned mask;
};
// Rows of the rank-name table.
const unsigned RANK_NAME_ROWS = 21;
// trace, fatal, error, warning, log, note, var, debug, development, devel, qa,
// user1, user2, user3, usr1, usr2, usr3, snc, lrg_snc, All, all.
extern const rank_name_s rank_name_table[RANK_NAME_ROWS];

// The mask every rank shares.
const unsigned RANK_ALL = 0xFFFFFFFFu;
// At most this many additional (host-defined) ranks; the one at 1-based
// position p has the bit 1 << (p + 13).
const unsigned MAX_ADDITIONAL_RANKS = 18;
const unsigned ADDITIONAL_RANK_SHIFT = 13;

// Keyword ids; synonyms share one.
enum keyword_id_e {
    KW_REFRESH_TIME = 0,
    KW_LOG_DIRECTORY_NAME = 1,
    KW_ADD_PID_TO_LOG_FILENAME = 2,
    KW_LOG_FILE_SIZE = 3,
    KW_LOG_FILES_TO_KEEP = 4,  // LogNumberOfFilesToKeep, TraceNumberOfFilesToKeep
    KW_MODULE_CONTENT = 5,
    KW_MODULE_RANK = 6,
    KW_FILE = 7,
    KW_CLASS = 8,
    KW_FUNCTION = 9,
    KW_THREAD_BY_NAME = 10,
    KW_THREAD_BY_SYS_ID = 11,
    KW_THREAD_BY_APPL_ID = 12,
    KW_THREAD_RESUME = 13,  // ThreadResume, ThreadResumeAll
    KW_ADITIONAL_RANKS = 14,
    KW_DEFAULT_LOGGING_RANK = 15,  // DefaultLoggingRank, DefaultDebugLevel
    KW_PRINT_ON_SCREEN = 16,       // PrintOnScreen, Verbose
    KW_PRINT_TO_DEBUG_VEW = 17,
    KW_PRINT_FILE = 18,
    KW_PRINT_FUNCTION = 19,
    KW_PRINT_LINE = 20,
    KW_PRINT_TIME = 21,
    KW_KEEP_STACK = 22,
    KW_DO_INDENTATION = 23,
    KW_CLEN_ALL = 24,
    KW_NONE = 25,  // the terminator row, and any unknown keyword
    // Log shipping (see docs/shipping.md); their rows stand before the terminator.
    KW_LOG_FILE_NAMING = 26,      // LogFileNaming stable|rename
    KW_LOG_RETENTION_GRACE = 27,  // LogRetentionGrace <seconds>
    KW_PRINT_SEQUENCE = 28,       // PrintSequence on|off
    // The black box (see docs/blackbox.md); rows before the terminator too.
    KW_BLACK_BOX_SIZE = 29,     // BlackBoxSize <bytes>, 0 for none
    KW_BLACK_BOX_RANK = 30,     // BlackBoxRank <ranks>
    KW_BLACK_BOX_ON_ERROR = 31  // BlackBoxOnError <events>
};

// One row of the keyword table.
struct keyword_s {
    const char* keyword;
    unsigned id;
};
// Rows of the keyword table, the terminator (empty text, id 25) included.
const unsigned KEYWORD_ROWS = 36;
extern const keyword_s keyword_table[KEYWORD_ROWS];

// Mask of the first rank-name row equal to name (exact, case-sensitive); 0 when none.
unsigned find_rank_mask(const char* name);
// Name of the first rank-name row whose mask equals mask; "UNKNOWN" when none.
const char* find_rank_name(unsigned mask);
// Id of the first keyword row equal to text (exact, case-sensitive); 25 when none.
unsigned keyword_id(const char* text);
// Keyword of the first row with that id (25 gives ""); "BadKeyValue" when none.
const char* keyword_name(unsigned id);

// ASCII case-insensitive comparison with the result convention of strcmp
// (the runtime's _stricmp). Null texts compare as empty.
int text_stricmp(const char* a, const char* b);

#endif
