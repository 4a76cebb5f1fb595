#include "program_part.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "hostfs.h"
#include "pack.h"
#include "pe.h"
#include "sealed.h"
#include "sealed_crypto.h"

namespace {

// Stubs of released versions, by the digest ProgramPartDigest gives them
// (`lumisafe info --json` of a file the release packed shows it as
// programPart.sha256). Each release adds its own line, so that later tools
// still recognise the files it made.
const struct {
    const char* version;
    const char* sha256;
} kReleasedStubs[] = {
    {nullptr, nullptr}, // no release yet
};

// A program part larger than this is no stub of ours: not read whole.
const uint64_t kLargestStub = 64u << 20;

std::string Hex(const uint8_t* p, size_t n)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += kDigits[p[i] >> 4];
        out += kDigits[p[i] & 15];
    }
    return out;
}

// The stub this tool packs with, by digest ("" when it has none).
std::string OwnStubDigest()
{
    static bool looked = false;
    static std::string digest;
    if (!looked) {
        looked = true;
        std::vector<uint8_t> stub;
        std::string path, error;
        if (LoadDefaultStub(&stub, &path, &error)) digest = ProgramPartDigest(stub.data(), stub.size());
    }
    return digest;
}

} // namespace

std::string ProgramPartDigest(const uint8_t* data, size_t length)
{
    std::vector<uint8_t> copy(data, data + length);
    (void)ClearPeFields(copy.data(), copy.size());
    uint8_t digest[32];
    if (SealedSha256(copy.data(), copy.size(), digest) != kSealedOk) return "";
    return Hex(digest, sizeof digest);
}

bool IdentifyProgramPart(const std::string& path, uint64_t length, ProgramPart* part, std::string* error)
{
    *part = ProgramPart();
    if (length > kLargestStub) return true; // unknown, and not worth hashing
    std::FILE* f = OpenForReading(path);
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    const size_t n = length ? std::fread(bytes.data(), 1, bytes.size(), f) : 0;
    (void)std::fclose(f); // opened for reading: nothing to lose
    if (n != bytes.size()) {
        *error = path + ": read error";
        return false;
    }
    part->sha256 = ProgramPartDigest(bytes.data(), bytes.size());
    if (part->sha256.empty()) {
        *error = "SHA-256 failed";
        return false;
    }
    if (part->sha256 == OwnStubDigest()) {
        part->known = true;
        part->knownAs = "the decoder stub of this lumisafe " LUMISAFE_VERSION;
        return true;
    }
    for (const auto& r : kReleasedStubs) {
        if (r.sha256 && part->sha256 == r.sha256) {
            part->known = true;
            part->knownAs = std::string("the decoder stub of lumisafe ") + r.version;
        }
    }
    return true;
}
