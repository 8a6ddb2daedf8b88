// Walks the records of one event source in the local event log, newest first, and exposes the
// parsed fields of the current record.
#pragma once

#include "platform.h"

#include <cstdint>

// How the last walk ended.
enum WalkEnd {
    WalkComplete,   // at the oldest record, or in an empty or missing log
    WalkNotOpened,  // the log exists but could not be opened
    WalkReadFailed, // a read failed before the oldest record
    WalkDamaged,    // at the oldest record, past damage the log passed over or read in part
    WalkMalformed,  // at a malformed logon or logoff of the source (the current record)
};

class EventLogReader {
  public:
    // The log the source writes to, or with backupFile the saved log at that path.
    explicit EventLogReader(const WCHAR* sourceName, const WCHAR* backupFile = nullptr);
    ~EventLogReader();
    EventLogReader(const EventLogReader&) = delete;
    EventLogReader& operator=(const EventLogReader&) = delete;

    // Starts a new walk at the newest record. 1 when the log is open.
    int reopen();
    // 1 when a record of the source is current and parsed; 0 at the end of the walk, after a
    // failed read, or at a malformed logon or logoff record.
    int readNext();

    // Takes a record the log returned (malloc'd, size bytes) as readNext does: 1 or 0 as from
    // parseRecord when it is a record of the source and becomes current, -1 when it belongs to
    // another source (the buffer is then released).
    int takeRecord(uint8_t* buffer, uint32_t size);

    // Why the last readNext that returned 0 did, and the platform's result code for
    // WalkNotOpened and WalkReadFailed. kind() and time() name a malformed record.
    WalkEnd walkEnd() const { return walkEnd_; }
    DWORD walkError() const { return walkError_; }
    // Which part of the log is damaged, for WalkDamaged; "" when the platform does not say.
    const char* damage() const { return damage_; }

    // Whether the log is open, and why it is not.
    int isOpen() const { return logHandle_ != nullptr; }
    DWORD openError() const { return openError_; }

    uint32_t kind() const { return kind_; }
    uint32_t time() const { return time_; }
    uint32_t sessionId() const { return sessionId_; }
    // Point into the current record; valid until the next record or reopen. Each may be none.
    const WCHAR* sessionName() const { return sessionName_; }
    const WCHAR* domain() const { return domain_; }
    const WCHAR* userName() const { return userName_; }
    // Their lengths in units (0 for a missing one).
    size_t sessionNameUnits() const { return sessionNameUnits_; }
    size_t domainUnits() const { return domainUnits_; }
    size_t userNameUnits() const { return userNameUnits_; }
    // The name of the computer that wrote the current record (any of its records: reboots too),
    // and its units; none when the record holds none that ends inside it. Found when first
    // asked for: most reports never ask.
    const WCHAR* computer() {
        if (!computerFound_)
            findComputer();
        return computer_;
    }
    size_t computerUnits() {
        if (!computerFound_)
            findComputer();
        return computerUnits_;
    }
    // The current record's number in its log.
    uint32_t recordNumber() const;

    // What the walk since the last reopen met, records of every source counted: how many, and
    // the oldest and newest of their times (both 0 while none was met).
    uint64_t recordsMet() const { return recordsMet_; }
    uint32_t oldestMet() const { return recordsMet_ ? oldestMet_ : 0; }
    uint32_t newestMet() const { return newestMet_; }

  private:
    int parseRecord(int shortRecord);
    int fillBatch();
    int readBatch(DWORD* bytesRead, DWORD* bytesNeeded);
    void releaseRecord();
    void meet(uint32_t time) {
        oldestMet_ = time < oldestMet_ ? time : oldestMet_;
        newestMet_ = time > newestMet_ ? time : newestMet_;
        ++recordsMet_;
    }
    void findComputer();
    // Whether the record's source name, at sourceAt, is the source's.
    template <uint32_t sourceAt> int isOfSource(const uint8_t* record, uint32_t size) const;
    void open(const WCHAR* sourceName);
    void closeLog(); // a saved log's handle is the platform's own decoders'
    int endWalk(WalkEnd end, DWORD error);

    HANDLE logHandle_ = nullptr;
    DWORD openError_ = ERROR_SUCCESS;
    WalkEnd walkEnd_ = WalkComplete;
    DWORD walkError_ = ERROR_SUCCESS;
    int walkOver_ = 0; // readNext returned 0: the log is closed until reopen
    char damage_[256] = {};
    WCHAR* sourceName_ = nullptr;
    uint32_t sourceLength_ = 0; // units, without the terminator
    WCHAR* backupFile_ = nullptr;
    // The current record: in the batch, or a buffer takeRecord was given (ownRecord_).
    uint8_t* record_ = nullptr;
    uint32_t recordSize_ = 0;
    uint8_t* ownRecord_ = nullptr;
    // The records of the last read, kept from one read to the next; batchAt_ is where the next
    // one starts.
    uint8_t* batch_ = nullptr;
    uint32_t batchCapacity_ = 0;
    uint32_t batchUsed_ = 0;
    uint32_t batchAt_ = 0;
    // Whether the log gives the batch short records: -1 not known yet, then 0 or 1.
    int shortRecords_ = -1;
    uint32_t kind_ = 0;
    uint32_t time_ = 0;
    uint32_t sessionId_ = 0;
    WCHAR* sessionName_ = nullptr;
    WCHAR* domain_ = nullptr;
    WCHAR* userName_ = nullptr;
    size_t sessionNameUnits_ = 0;
    size_t domainUnits_ = 0;
    size_t userNameUnits_ = 0;
    int computerFound_ = 0; // computer_ is the current record's
    int shortRecord_ = 0;   // the current record is a short one
    WCHAR* computer_ = nullptr;
    size_t computerUnits_ = 0;
    uint64_t recordsMet_ = 0;
    uint32_t oldestMet_ = UINT32_MAX;
    uint32_t newestMet_ = 0;
};
