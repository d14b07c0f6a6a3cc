// The rank-name and keyword tables and their lookups.
#include "config/rank_tables.h"

#include <cstring>

#include "kor/mix.h"

const rank_name_s rank_name_table[RANK_NAME_ROWS] = {
    {"trace", 0x1},
    {"fatal", 0x2},
    {"error", 0x4},
    {"warning", 0x8},
    {"log", 0x10},
    {"note", 0x20},
    {"var", 0x40},
    {"debug", 0x80},
    {"development", 0x100},
    {"devel", 0x100},
    {"qa", 0x200},
    {"user1", 0x400},
    {"user2", 0x800},
    {"user3", 0x1000},
    {"usr1", 0x400},
    {"usr2", 0x800},
    {"usr3", 0x1000},
    {"snc", 0x2000},
    {"lrg_snc", 0x2000},
    {"All", RANK_ALL},
    {"all", RANK_ALL},
};

const keyword_s keyword_table[KEYWORD_ROWS] = {
    {"RefreshTime", KW_REFRESH_TIME},
    {"LogDirectoryName", KW_LOG_DIRECTORY_NAME},
    {"AddPIDtoLogFilename", KW_ADD_PID_TO_LOG_FILENAME},
    {"LogFileSize", KW_LOG_FILE_SIZE},
    {"LogNumberOfFilesToKeep", KW_LOG_FILES_TO_KEEP},
    {"TraceNumberOfFilesToKeep", KW_LOG_FILES_TO_KEEP},
    {"ModuleContent", KW_MODULE_CONTENT},
    {"ModuleRank", KW_MODULE_RANK},
    {"File", KW_FILE},
    {"Class", KW_CLASS},
    {"Function", KW_FUNCTION},
    {"ThreadByName", KW_THREAD_BY_NAME},
    {"ThreadBySysID", KW_THREAD_BY_SYS_ID},
    {"ThreadByApplID", KW_THREAD_BY_APPL_ID},
    {"ThreadResume", KW_THREAD_RESUME},
    {"ThreadResumeAll", KW_THREAD_RESUME},
    {"DefaultLoggingRank", KW_DEFAULT_LOGGING_RANK},
    {"DefaultDebugLevel", KW_DEFAULT_LOGGING_RANK},
    {"AditionalRanks", KW_ADITIONAL_RANKS},
    {"PrintOnScreen", KW_PRINT_ON_SCREEN},
    {"Verbose", KW_PRINT_ON_SCREEN},
    {"PrintToDebugVew", KW_PRINT_TO_DEBUG_VEW},
    {"PrintFile", KW_PRINT_FILE},
    {"PrintFunction", KW_PRINT_FUNCTION},
    {"PrintLine", KW_PRINT_LINE},
    {"PrintTime", KW_PRINT_TIME},
    {"KeepStack", KW_KEEP_STACK},
    {"DoIndentation", KW_DO_INDENTATION},
    {"ClenAll", KW_CLEN_ALL},
    {"LogFileNaming", KW_LOG_FILE_NAMING},
    {"LogRetentionGrace", KW_LOG_RETENTION_GRACE},
    {"PrintSequence", KW_PRINT_SEQUENCE},
    {"BlackBoxSize", KW_BLACK_BOX_SIZE},
    {"BlackBoxRank", KW_BLACK_BOX_RANK},
    {"BlackBoxOnError", KW_BLACK_BOX_ON_ERROR},
    {"", KW_NONE},
};

unsigned find_rank_mask(const char* name) {
    if (!name)
        return 0;
    for (const rank_name_s& row : rank_name_table)
        if (std::strcmp(row.name, name) == 0)
            return row.mask;
    return 0;
}

const char* find_rank_name(unsigned mask) {
    for (const rank_name_s& row : rank_name_table)
        if (row.mask == mask)
            return row.name;
    return "UNKNOWN";
}

unsigned keyword_id(const char* text) {
    if (!text)
        return KW_NONE;
    for (const keyword_s& row : keyword_table)
        if (std::strcmp(row.keyword, text) == 0)
            return row.id;
    return KW_NONE;
}

const char* keyword_name(unsigned id) {
    for (const keyword_s& row : keyword_table)
        if (row.id == id)
            return row.keyword;
    return "BadKeyValue";
}

int text_stricmp(const char* a, const char* b) {
    return mix_n::stricmp_ascii(a, b);
}
