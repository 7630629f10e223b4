#pragma once

// A spooled pass's archive handed to a verification that runs beside the pass, on another worker. After
// each run the pass publishes what no later run takes back: the control sub-stream's bytes so far, and
// the items, flushed to the spool's file. The verification reads the items from that file through a
// handle of its own and waits for bytes that are not there yet; the pass never waits for it, so the two
// may also run one after the other on one thread.

#include "archive/archive_writer.h"
#include "unpack/unpacker.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

struct VerifyPipe {
    FILE* items_file = nullptr; // the spool's items file, open again for reading, unbuffered

    std::mutex mutex;
    std::condition_variable more;
    // The control sub-stream coded so far: the bytes written out (the whole sub-stream once finished),
    // which stay, and those that writing out the rest of it would add now; and the items it announces.
    std::vector<uint8_t> control;
    std::vector<uint8_t> control_flush;
    uint64_t items_coded = 0;
    uint64_t items = 0;               // the items' bytes in the file that no later run takes back
    std::vector<uint8_t> tail;        // what follows the items in the archive (its extension), once finished
    uint64_t control_block_bytes = 0; // once finished: the control block's bytes, length code included
    bool finished = false;            // the pass has published its whole archive
    bool abandoned = false;           // the pass went on without it: what the verification says is void

    // The reading side's own, touched by the verifying thread only.
    uint64_t items_taken = 0;
    size_t tail_taken = 0;
    bool read_failed = false;
};

// Set up on the items file `items_file` (read from its start), with nothing published yet.
void pipe_open(VerifyPipe& pipe, FILE* items_file);

// After a run of the pass: its control bytes and items so far become readable. False, with the pipe
// abandoned, when the items could not be written (writer.spool_error says why).
bool pipe_publish(VerifyPipe& pipe, ArchiveWriter& writer);

// The pass has ended with `head` (magic, flags and control block) before `items` bytes of items, and
// `tail` after them.
void pipe_finish(VerifyPipe& pipe, const std::vector<uint8_t>& head, uint64_t items,
                 std::vector<uint8_t> tail);

// The pass will not finish this archive: the verification stops waiting and its answer does not count.
void pipe_abandon(VerifyPipe& pipe);

// Whether the pass abandoned the pipe: a run came out larger than stored raw (another pass follows) or
// its items could not be written.
bool pipe_abandoned(VerifyPipe& pipe);

// The unpacker's view of the pipe.
ArchivePipe pipe_source(VerifyPipe& pipe);

// After the verification: whether the run over the pipe was the run over the finished archive (whole,
// not abandoned, its control decisions proved on the archive's own sub-stream), so that its verdict
// holds for the archive.
bool pipe_read_as_archive(VerifyPipe& pipe, const ArchivePipe& source);
