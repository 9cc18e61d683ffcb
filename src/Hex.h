// Intel HEX records: the one place where they are encoded and read. The encoder writes the
// HEX image's records; the reader checks a HEX input and hands its data to the signature pass
// as pieces, and stores the signature by rewriting hex digits in place.
#pragma once

#include <cstdint>

#include "Firmware.h"

constexpr uint8_t kHexData00 = 0x00; // data
constexpr uint8_t kHexEnd = 0x01;    // end of file
constexpr uint8_t kHexSegment = 0x02;
constexpr uint8_t kHexStartSeg = 0x03;
constexpr uint8_t kHexUpper = 0x04; // upper 16 address bits
constexpr uint8_t kHexStartLin = 0x05;
constexpr uint32_t kHexData = 16;                    // data bytes in a record the encoder writes
constexpr uint32_t kHexRecordMax = 11 + 2 * 255 + 2; // the longest record with its CR LF

// Encodes one record, upper-case, with CR LF, at out; returns its length.
uint32_t HexRecord(char* out, uint8_t type, uint16_t addr, const uint8_t* data, uint32_t n);

// Checks the whole mapped file as Intel HEX and indexes its data. A fault ends the run with
// the invalid-hex-file report, naming the first faulty line. Returns the input's firmware.
const Firmware& HexInput();
