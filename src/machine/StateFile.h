// StateFile: state files and recorded session files on disk.
//
// Both start with the same 40-byte header, all numbers little-endian:
//
//   offset  size  field
//        0     8  magic: "PDEMUST\x1A" (state) or "PDEMUSS\x1A" (session)
//        8     4  format version (1)
//       12     4  0 (reserved)
//       16     8  ROM digest: FNV-1a 64 of flash pages 0-63 as loaded
//       24     4  CRC-32 (zlib's) of the uncompressed payload
//       28     4  length of the uncompressed payload
//       32     4  length of the compressed payload
//       36     4  0 (reserved)
//       40     -  the payload, compressed with zlib (deflate, zlib wrapper)
//
// The payload of a state: the registers (MachineRegisters, field by field in
// the order StateFile.cpp writes them), the pending break-trap request, the
// print-trap lines not yet shown, the screen bitmap, the eight RAM pages,
// then the flash pages it holds (64-191 always, 0-63 only where they differ
// from the ROM as loaded), each behind its page number. A session's payload
// is its start state, then the T-states it lasted, then the outside values
// (OutsideLog.h) in order.
//
// Files are written through writeFileSafely: complete or not at all. A reader
// takes only a regular file, checks everything before it hands anything out
// (version, digest, lengths, CRC, every field's range), and says what is
// wrong in one message that names the file; the caller's machine is never
// touched by a refused file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "machine/MachineState.h"
#include "machine/OutsideLog.h"

inline constexpr uint32_t StateFormatVersion = 1;
inline constexpr std::size_t StateHeaderBytes = 40;

struct Session {
    MachineState start;
    uint64_t tstates = 0;  // from the start state's moment to the recording's end
    std::vector<OutsideRead> reads;
};

// "" when written; the message otherwise.
std::string writeStateFile(const std::string& path, const MachineState& state);
std::string writeSessionFile(const std::string& path, const Session& session);

// romDigest: the digest of the ROM the caller runs; a file made for another is refused.
struct StateRead {
    std::optional<MachineState> state;
    std::string problem;  // when !state
};
StateRead readStateFile(const std::string& path, uint64_t romDigest);

struct SessionRead {
    std::optional<Session> session;
    std::string problem;
};
SessionRead readSessionFile(const std::string& path, uint64_t romDigest);

// The parsers behind the readers, for bytes already in memory (the fuzzer).
StateRead parseStateBytes(const std::string& name, const std::string& bytes, uint64_t romDigest);
SessionRead parseSessionBytes(const std::string& name, const std::string& bytes, uint64_t romDigest);
