// A batch of lines in one write: the lines that many threads finished while
// one write was in the kernel reach the file with the next system call.
#include "logfile/logger.h"

#include "platform/platform.h"

namespace {

// Lines per system call: two pieces each, within the platform's group.
const size_t LINES_PER_CALL = PLAT_MAX_PIECES / 2;

}  // namespace

void logger_c::write_lines(const log_line_s* lines, size_t count) {
    size_t next = 0;
    while (next < count && (file != PLAT_NO_FILE || reopen_after_failure())) {
        // The lines of this call: up to the one after which the file
        // rotates, counting as the 32-bit file counter counts.
        plat_piece_s pieces[LINES_PER_CALL * 2];
        size_t used = 0;
        unsigned counted = bytes_written;
        bool rotate = false;
        const size_t first = next;
        while (next < count && next - first < LINES_PER_CALL && !rotate) {
            const log_line_s& l = lines[next++];
            pieces[used++] = {l.prefix, l.prefix ? l.prefix_length : 0};
            pieces[used++] = {l.text, l.text ? l.length : 0};
            counted += static_cast<unsigned>(pieces[used - 2].size + pieces[used - 1].size);
            rotate = static_cast<unsigned long long>(counted) >= max_file_size;
        }
        plat_set_last_error(0);
        if (!plat_file_write_pieces(file, pieces, used)) {
            const unsigned long code = plat_last_error();
            if (code != 0) {
                write_failed(code);
                return;
            }
        }
        bytes_written = counted;
        if (rotate) open_file(nullptr);
    }
}
