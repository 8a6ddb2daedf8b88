// One walk over a .evtx file whose chunks are decoded on other threads, a few batches ahead of
// the reader: decoding binary XML costs more than all that is done with a record after it.
// Each thread decodes every so many chunks; the reader takes their batches in the walk's order
// and walks them as EvtxFile::next does, so the records are the same.
#pragma once

#include "evtx_file.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <pthread.h>

class EvtxReadAhead {
  public:
    // The walk of cursor over file, from where the cursor is.
    EvtxReadAhead(EvtxFile& file, EvtxCursor& cursor) : file_(file), cursor_(cursor) {}
    ~EvtxReadAhead() { stop(); }
    EvtxReadAhead(const EvtxReadAhead&) = delete;
    EvtxReadAhead& operator=(const EvtxReadAhead&) = delete;

    // 0 when the threads could not be started (nor are they worth it on one processor): the
    // walk stays the caller's. Until stop() returns, the file is not loaded or opened again.
    int start();
    // The threads end after the batches they are decoding; the batches decoded stay to be read.
    void stop();

    // The record the cursor is at, as EvtxFile::peek gives it (for EvtxFile::take to pass), its
    // bytes valid until the next peek that follows a take. Once the threads were stopped and the
    // batches in the walk's order are read, EvtxFile::peek goes on from the cursor.
    WalkStep peek(const EvtxBatch::Record** record, const uint8_t** bytes) {
        if (reading_) { // the usual record: the next one of the batch being read
            const EvtxBatch& batch = reading_->slots[reading_->head];
            if (batch.chunk.index == cursor_.chunk.index &&
                file_.quickStep(cursor_, batch, record)) {
                *bytes = batch.bytes.data() + (*record)->offset;
                return WalkStep::Record;
            }
        }
        return peekBatches(record, bytes);
    }

  private:
    static constexpr size_t kMostThreads = 4;
    static constexpr size_t kSlots = 8; // batches decoded ahead by each thread, at most
    // and bytes: records that expand to megabytes each must not pile up ahead of the reader.
    static constexpr size_t kReadyBytes = 2 << 20;
    struct Worker {
        EvtxReadAhead* owner = nullptr;
        size_t index = 0;
        pthread_t thread{};
        int running = 0;
        EvtxDecoder decoder;
        EvtxBatch slots[kSlots];
        size_t head = 0, count = 0; // the batches ready: count of them from slots[head]
        size_t readyBytes = 0;      // and their records' bytes
        std::condition_variable filled, emptied;
    };
    WalkStep peekBatches(const EvtxBatch::Record** record, const uint8_t** bytes);
    static void* run(void* worker);
    void decode(Worker& worker);
    void stop(size_t started); // the first started threads
    Worker& workerOf(WalkPos chunk) {
        return workers_[(chunk.index - firstChunk_.index) % threads_];
    }

    EvtxFile& file_;
    EvtxCursor& cursor_;
    WalkPos firstChunk_ = {0};
    size_t firstRecord_ = 0;
    int backwards_ = 1;
    size_t threads_ = 0;
    Worker workers_[kMostThreads];
    std::mutex lock_;
    // What the threads' batches cost together: once it passes the walk's allowance, they begin
    // no more chunks. The reader, which takes the cost of each record in the walk's order, ends
    // the walk where the allowance ends, before it would need a chunk they left; or it decodes
    // that chunk itself.
    DecodeWork decoded_;
    int stopping_ = 0;
    int stopped_ = 0;
    // The reader: in the batch at the head of its chunk's worker, when reading_ (that worker).
    Worker* reading_ = nullptr;
    int drained_ = 0;
};
