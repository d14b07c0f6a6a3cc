// Path texts and the few file-system operations the log files need.
//
// Paths are UTF-8 texts with '/' or '\' as separators. The text functions
// (normalize_path, resolve_dots) behave the same on every build, drive
// letters and network paths included, so that a configuration written for
// one system reads the same on the other; is_full_path and same_path take the
// rules of either system. The file-system operations hand the canonical path
// to the platform layer (which on Windows turns it into the extended-length
// form).
//
// Every buffer holds LOG_PATH_SIZE bytes. A path that does not fit is
// refused: the text functions leave an empty result and return false, the
// file-system operations fail. Nothing here prints or records a message.
#ifndef KATRACE_LOGFILE_PATH_OPS_H
#define KATRACE_LOGFILE_PATH_OPS_H

#include "katrace.h"
#include "kor/mix.h"

class logger_c;
class str_list_c;

// Size of every path buffer, in bytes.
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

// The path as handed to the platform layer (target of LOG_PATH_SIZE bytes):
// the canonical path; false (target empty) for a null or empty text.
bool to_os_path(const char* text, char* target);

// Whether a file or directory exists at path.
bool path_exists(const char* path);

// Creates the directory with all missing parents (the first component, a
// drive root or a share, is never created). True when it exists at the end.
bool create_directories(const char* path);

// Moves old_path to new_path; an existing file of the new name is never
// deleted or replaced (the move fails), so that no earlier file is lost to
// make room. Names equal without regard to ASCII case count as done. The
// logger is not used (kept for symmetry with delete_file and list_directory).
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
