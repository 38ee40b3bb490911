#pragma once
// Whole records out of the bytes of the line, by the phasing rule: a record
// starts with the one byte that has bit 7 set and is known to be whole (13
// or 14 bytes, the unit's bus address last) only when the phasing byte of
// the next one arrives. No port and no clock: bytes in, records out.
#include <cstdint>

class CRecordAssembler {
public:
    // Takes the next byte of the line. True when it closes a record with a
    // bus address other than 0: the record stays in place (record(),
    // length(), address()) until next(). Any other phasing byte starts a new
    // record, dropping what was assembled; other bytes are added while there
    // is room.
    bool add(std::uint8_t byte);
    // The record closed was whole (published, or left out for its unit's
    // settings): the phasing byte that closed it opens the next one.
    void next();
    // The record closed was damaged (a bus address beyond the flock, or not
    // its unit's length): dropped, and counted as broken; its closing
    // phasing byte opens the next one all the same.
    void dropBroken();
    // Whether the whole record just closed may be published. A lost or stray
    // byte breaks one record, two at most, and a short stretch of noise a
    // few; a run of kGarbageRun broken records in a row means the line
    // carried garbage. Its last phasing byte may open a record that ends
    // with the true end of one that the garbage cut, and nothing on the line
    // tells that from a whole record. After such a run a record is trusted
    // again only when the record before it was whole too: the first whole
    // one after garbage is dropped.
    bool trusted();
    static constexpr std::uint32_t kGarbageRun = 10;

    const std::uint8_t* record() const { return recordBuffer; }
    std::uint32_t length() const { return recordFill; }
    std::uint32_t address() const { return recordFill != 0 ? recordBuffer[recordFill - 1] : 0; }

private:
    void start(std::uint8_t phasingByte);
    void countBroken();
    void append(std::uint8_t byte);

    // The fill count stands before the buffer, so that no write past the
    // buffer's end can reach it, and the buffer is not the last member, so
    // that the bounds sanitizer checks every index into it. append is the
    // one write into the buffer.
    std::uint32_t recordFill = 0;
    // Byte 0 holds the first byte with its phasing bit cleared.
    std::uint8_t recordBuffer[16] = {};
    std::uint8_t closingByte = 0;
    // Broken records since the last whole one: fragments of no record's
    // length and records from address 0, counted here, and the records that
    // the device drops with dropBroken.
    std::uint32_t brokenInARow = 0;
    bool distrust = false;       // a run of garbage came, and no two whole records after it
};
