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
    // The phasing byte that closed the record opens the next one.
    void next();

    const std::uint8_t* record() const { return recordBuffer; }
    std::uint32_t length() const { return recordFill; }
    std::uint32_t address() const { return recordFill != 0 ? recordBuffer[recordFill - 1] : 0; }

private:
    void start(std::uint8_t phasingByte);
    void append(std::uint8_t byte);

    // The fill count stands before the buffer, so that no write past the
    // buffer's end can reach it, and the buffer is not the last member, so
    // that the bounds sanitizer checks every index into it. append is the
    // one write into the buffer.
    std::uint32_t recordFill = 0;
    // Byte 0 holds the first byte with its phasing bit cleared.
    std::uint8_t recordBuffer[16] = {};
    std::uint8_t closingByte = 0;
};
