// What a self-decoding file's program part is: the decoder stub this tool
// packs with, one of the released stubs listed here, or a program nobody
// vouches for. On Windows the program part is what receives the password,
// so a file whose program part was swapped is a trap that the integrity sum
// (anyone can recompute it) and the sealed form's tags (they cover the
// payload) cannot reveal.
#ifndef LUMISAFE_TOOLS_PROGRAM_PART_H
#define LUMISAFE_TOOLS_PROGRAM_PART_H

#include <cstddef>
#include <cstdint>
#include <string>

struct ProgramPart {
    std::string sha256; // of the program part with its PE CheckSum and certificate entry zeroed
    bool known = false;
    std::string knownAs; // which stub, when known
};

// The identity of a program part held in memory.
std::string ProgramPartDigest(const uint8_t* data, size_t length);

// Reads the first length bytes of the file (the program part) and names it.
// False with *error set when it cannot be read.
bool IdentifyProgramPart(const std::string& path, uint64_t length, ProgramPart* part, std::string* error);

#endif
