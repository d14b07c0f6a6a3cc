// The black-box recorder: writes events in binary into a file mapped shared
// (box_layout.h), so that what was recorded survives a crash of the host.
//
// Each recording thread owns a region of the file, claimed with its first
// event (box_thread_attach, which allocates the thread's writer) and freed
// when it ends (box_thread_detach). Recording itself (box_record_*) takes
// no lock, makes no system call and allocates nothing: it stores the record
// into the thread's ring and publishes it with a release store of its
// commit word. Texts and sites go to the string table once; a site's id is
// cached by its caller.
#ifndef KATRACE_BOX_RECORDER_H
#define KATRACE_BOX_RECORDER_H

#include <cstddef>
#include <cstdint>

#include "blackbox/box_layout.h"

struct box_recorder_s;
struct box_writer_s;

// One argument of a message, with its kind (box_arg_kind_e). A string is
// copied when the record is made: up to BOX_MAX_STRING bytes, the rest
// counted as cut.
struct box_arg_s {
    uint8_t kind;
    size_t limit = SIZE_MAX;  // a string's bytes are looked at up to here (a printf precision)
    union {
        int64_t i;
        uint64_t u;
        double d;
        const void* p;
        const char* s;
    };
};

// Creates the box file at path with size bytes (BOX_MIN_SIZE to
// BOX_MAX_SIZE) and regions regions (0: chosen from the size), writes its
// header and first calibration pair. exe_name may be null. Null on failure,
// with the platform's error code in plat_last_error; the file may then stay
// behind, empty.
box_recorder_s* box_open(const char* path, unsigned long long size, unsigned regions, const char* exe_name);
// Unmaps the file and frees the recorder. No thread may record into it
// any more, and every writer must have been detached before.
void box_close(box_recorder_s* r);
// The file's bytes, for readers in the same process (tests).
const unsigned char* box_bytes(const box_recorder_s* r, size_t* size);
// Appends a counter/wall-clock pair (at a reload); one caller at a time.
void box_calibrate(box_recorder_s* r);
// Names the host's additional ranks (at the box's opening and each reload):
// names holds them separated by spaces, the first for bit 14, the next for
// bit 15 and so on; it goes to the string table and the header's rank_names
// holds its id. Null or empty: no names. One caller at a time.
void box_name_ranks(box_recorder_s* r, const char* names);

// Claims a region for the calling thread (thread_id and name, which may be
// null, are stored in it) and makes its writer; null when every region is
// owned (counted in the header) or memory runs out.
box_writer_s* box_thread_attach(box_recorder_s* r, unsigned long long thread_id, const char* name);
// Releases the writer's region for a later thread (its records stay until
// then) and frees the writer. Null is ignored.
void box_thread_detach(box_recorder_s* r, box_writer_s* w);

// The string id of a text (a function, file or format name), written once:
// a text seen before at the same address with the same bytes is not written
// again. 0 for a null text or when the table is full. Texts longer than
// BOX_MAX_TEXT bytes are cut.
uint32_t box_text_id(box_recorder_s* r, const char* text);
// A new site entry for function, file, line and format (null for a scope);
// 0 when the table is full. The caller keeps the id.
uint32_t box_site_id(box_recorder_s* r, const char* function, const char* file, unsigned line, const char* format);

// Records an enter (BOX_REC_ENTER) or a leave (BOX_REC_LEAVE) at site;
// written says that the log shows the event too.
void box_record_scope(box_writer_s* w, box_record_kind_e kind, uint32_t site, unsigned depth, bool written = false);
// Records a message of rank (a rank bit; the lowest one counts) at site with
// its arguments (at most BOX_MAX_ARGS are kept).
void box_record_message(box_writer_s* w, uint32_t site, unsigned rank, unsigned depth, const box_arg_s* args, unsigned count,
                        bool written = false);

#endif
