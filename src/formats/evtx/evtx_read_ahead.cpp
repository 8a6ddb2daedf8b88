#include "evtx_read_ahead.h"

#include "formats/file_io.h"

int EvtxReadAhead::start() {
    if (threads_ > 0)
        return 0;
    long processors = usableProcessors();
    if (processors < 2)
        return 0;
    firstChunk_ = cursor_.chunk;
    firstRecord_ = cursor_.record;
    backwards_ = cursor_.backwards;
    stopping_ = 0;
    threads_ = static_cast<size_t>(processors) < kMostThreads ? static_cast<size_t>(processors)
                                                              : kMostThreads;
    for (size_t i = 0; i < threads_; ++i) {
        Worker& worker = workers_[i];
        worker.owner = this;
        worker.index = i;
        worker.running = 1;
        if (pthread_create(&worker.thread, nullptr, run, &worker) != 0) {
            worker.running = 0;
            size_t started = i;
            stop(started); // each thread has its own chunks: all of them run, or none
            threads_ = 0;
            return 0;
        }
    }
    return 1;
}

void EvtxReadAhead::stop() {
    stop(threads_);
}

void EvtxReadAhead::stop(size_t started) {
    if (stopped_ || started == 0)
        return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = 1;
    }
    for (size_t i = 0; i < started; ++i) {
        workers_[i].emptied.notify_one();
        pthread_join(workers_[i].thread, nullptr);
    }
    stopped_ = 1;
}

void* EvtxReadAhead::run(void* worker) {
    Worker& self = *static_cast<Worker*>(worker);
    self.owner->decode(self);
    return nullptr;
}

// A thread: the batches of its chunks, one after another into its free slots, until its
// chunks are done or it is stopped.
void EvtxReadAhead::decode(Worker& worker) {
    int stopped = 0;
    const DecodeWork allowance = file_.allowance();
    for (WalkPos chunk = {firstChunk_.index + worker.index};
         !stopped && chunk.index < file_.walkLength(); chunk.index += threads_) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (decoded_.nodes >= allowance.nodes || decoded_.bytes >= allowance.bytes)
                break;
        }
        size_t first = chunk.index == firstChunk_.index ? firstRecord_ : 0;
        for (int last = 0; !last;) {
            size_t slot;
            {
                std::unique_lock<std::mutex> hold(lock_);
                // Once the slots are full, half of them are read before the thread goes on: it
                // wakes less often.
                if (worker.count == kSlots || worker.readyBytes >= kReadyBytes)
                    worker.emptied.wait(hold, [&] {
                        return (worker.count <= kSlots / 2 && worker.readyBytes < kReadyBytes) ||
                               stopping_;
                    });
                stopped = stopping_;
                slot = (worker.head + worker.count) % kSlots; // past what the reader may read
            }
            if (stopped)
                break;
            EvtxBatch& batch = worker.slots[slot];
            file_.decode(chunk, backwards_, first, worker.decoder, batch);
            last = batch.last;
            first = batch.first + batch.records.size();
            {
                std::lock_guard<std::mutex> hold(lock_);
                ++worker.count;
                worker.readyBytes += batch.bytes.size();
                if (!batch.records.empty()) {
                    decoded_.nodes += batch.records.back().nodes;
                    decoded_.bytes += batch.records.back().bytes;
                }
            }
            worker.filled.notify_one();
        }
    }
    {
        std::lock_guard<std::mutex> hold(lock_);
        worker.running = 0;
    }
    worker.filled.notify_one();
}

WalkStep EvtxReadAhead::peekBatches(const EvtxBatch::Record** record, const uint8_t** bytes) {
    if (drained_)
        return file_.peek(cursor_, record, bytes);
    while (!cursor_.ended && cursor_.chunk.index < file_.walkLength()) {
        Worker& worker = workerOf(cursor_.chunk);
        if (!reading_) {
            std::unique_lock<std::mutex> hold(lock_);
            worker.filled.wait(hold, [&] { return worker.count > 0 || !worker.running; });
            if (worker.count == 0) {
                drained_ = 1; // stopped before it decoded the cursor's chunk
                return file_.peek(cursor_, record, bytes);
            }
            reading_ = &worker;
        }
        // A batch of a chunk the walk left early (a damaged chunk ends at a record that cannot be
        // decoded) is passed over.
        EvtxBatch& batch = worker.slots[worker.head];
        BatchStep got = batch.chunk.index == cursor_.chunk.index
                            ? file_.step(cursor_, batch, record)
                            : BatchStep::Exhausted;
        if (got == BatchStep::Broken)
            return WalkStep::Broken;
        if (got == BatchStep::Record) {
            *bytes = batch.bytes.data() + (*record)->offset;
            return WalkStep::Record;
        }
        const size_t read = batch.bytes.size();
        keepLittle(batch.bytes); // else each slot would keep the largest batch it ever held
        int wake;
        {
            std::lock_guard<std::mutex> hold(lock_);
            worker.head = (worker.head + 1) % kSlots;
            // What the thread waits for, when it waits.
            size_t before = worker.readyBytes;
            worker.readyBytes -= read;
            wake = --worker.count == kSlots / 2 ||
                   (before >= kReadyBytes && worker.readyBytes < kReadyBytes);
        }
        if (wake)
            worker.emptied.notify_one();
        reading_ = nullptr;
    }
    return EvtxFile::finish(cursor_);
}
