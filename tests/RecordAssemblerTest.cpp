// The record assembler at the bounds of its buffer: a line that sends more
// data bytes than any record holds never yields a record, whatever follows,
// and the next whole record is assembled as usual.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "driver/CRecordAssembler.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A whole 13-byte record of unit 2: phasing byte, eleven word bytes, address.
Bytes wholeRecord()
{
    Bytes bytes{0x81};
    bytes.insert(bytes.end(), 11, 0x05);
    bytes.push_back(0x02);
    return bytes;
}

TEST(RecordAssembler, DataBytesBeyondTheBufferNeverMakeARecord)
{
    // A phasing byte and n data bytes: 15 fill the 16-byte buffer exactly,
    // the others go beyond it. The data bytes would pass for the end of a
    // record if they landed anywhere but in the buffer: 12 (a length that
    // grows to 13), then the address 2 last.
    for (const std::size_t n : {15u, 16u, 17u, 18u, 60u, 300u}) {
        SCOPED_TRACE(n);
        CRecordAssembler assembler;
        Bytes line{0x80};
        line.insert(line.end(), n - 1, 0x0C);
        line.push_back(0x02);
        // The phasing byte that ends the overlong run opens the next record,
        // which is whole and is the only one.
        const Bytes next = wholeRecord();
        line.insert(line.end(), next.begin(), next.end());
        line.push_back(0x80);
        std::vector<std::uint32_t> addresses;
        for (const std::uint8_t byte : line) {
            if (assembler.add(byte)) {
                addresses.push_back(assembler.address());
                EXPECT_EQ(assembler.length(), 13u);
                assembler.next();
            }
        }
        EXPECT_EQ(addresses, std::vector<std::uint32_t>{2u});
    }
}

}  // namespace
