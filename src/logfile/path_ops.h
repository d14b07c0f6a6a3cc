// Path texts and the few file-system operations the log files need.
//
// Paths are UTF-8 texts with '/' or '\' as separators. The text functions
// (normalize_path, resolve_dots, to_long_path) behave the same on every
// build, drive letters and network paths included, so that a configuration
// written for one system reads the same on the other. is_full_path answers
// for the system it runs on, and the file-system operations differ: on
// Windows they hand the extended-length form ("\\?\C:\..." or
// "\\?\UNC\server\...") to the OS, elsewhere the canonical path.
//
// Every buffer holds LOG_PATH_SIZE bytes (or UTF-16 units). A path that does
// not fit is refused: the text functions leave an empty result and return
// false, the file-system operations fail. Nothing here prints or records a
// message.
#ifndef KATRACE_LOGFILE_PATH_OPS_H
#define KATRACE_LOGFILE_PATH_OPS_H

#include "katrace.h"
#include "kor/mix.h"

class logger_c;
class str_list_c;

// Size of every path buffer, in bytes for narrow and units for wide text.
const unsigned LOG_PATH_SIZE = KOR_MAX_PATH;

// Canonical form of source into target (LOG_PATH_SIZE bytes): '/' as the only
// separator, runs of separators collapsed, no trailing '/' (except in a drive
// root such as C:/), "." and ".." resolved, a leading "\\?\" dropped, the two
// leading backslashes of a network path kept. False (target empty) for a
// null source or one that does not fit.
bool normalize_path(const char* source, char* target);

// Resolves "." and ".." components of path in place (path holds at most
// LOG_PATH_SIZE bytes). A ".." that would climb above the first component is
// dropped, so the result never holds "." or ".." components. An empty result
// becomes "."; a bare drive ("C:") becomes its root ("C:/").
void resolve_dots(char* path);

// In the Windows style true for a drive path ("C:\..." or "C:/...") and a
// network path ("\\x..."); in the POSIX style true only for a path beginning
// with '/' (there a drive or network path names a relative directory).
// False for null, relative paths and a bare drive ("C:").
bool is_full_path(const char* text, plat_path_style_e style = PLAT_PATH_NATIVE);
// Whether two paths name the same place: equal canonical forms, compared
// without regard to ASCII case in the Windows style.
bool same_path(const char* a, const char* b, plat_path_style_e style = PLAT_PATH_NATIVE);

// The extended-length UTF-16 form of text into target (LOG_PATH_SIZE units):
// "\\?\" before a drive path, "\\?\UNC\" before the rest of a network path,
// other paths unprefixed; '\' as separator. False (target empty) for a null
// or empty text, a failed conversion or a result that does not fit.
bool to_long_path(const char* text, katr_wchar_t* target);

// The same as narrow UTF-8 text (target of LOG_PATH_SIZE bytes).
bool to_long_path_narrow(const char* text, char* target);

// The path as handed to the OS (target of LOG_PATH_SIZE bytes): the narrow
// extended-length form on Windows, the canonical path elsewhere.
bool to_os_path(const char* text, char* target);

// Whether a file or directory exists at path.
bool path_exists(const char* path);

// Creates the directory with all missing parents (the first component, a
// drive root or a share, is never created). True when it exists at the end.
bool create_directories(const char* path);

// Moves old_path to new_path, first deleting any file of the new name. Names
// equal without regard to ASCII case count as done. The logger is not used
// (kept for symmetry with delete_file and list_directory).
bool move_file(const logger_c& logger, const char* old_path, const char* new_path);

// Deletes the file name, which is taken inside the logger's directory when
// in_directory is set, else as it stands.
bool delete_file(const logger_c& logger, const char* name, bool in_directory);

// Inserts the name of every regular file of the logger's directory at the
// front of list (so the list ends up in reverse order of enumeration). True
// when the listing ran to its end; a directory that cannot be opened
// leaves list unchanged.
bool list_directory(const logger_c& logger, str_list_c& list);

#endif
