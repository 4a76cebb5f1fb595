// Writes the known-good and known-bad self-decoding files into a directory,
// with expected.txt: name|password|exit code|content sha256 or -|json text.
//   make_test_files DIR
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bytes.h"
#include "cipher.h"
#include "container_write.h"
#include "lzap_encode.h"
#include "integrity.h"
#include "record_write.h"
#include "sealed.h"
#include "sealed_write.h"
#include "sfx.h"
#include "testdata.h"
#include "testrecords.h"

using Bytes = std::vector<uint8_t>;
static std::string dir;
static std::ofstream expected;

using testrecords::Compress;
using testrecords::Record;

// Stub, marker block with a correct sum, and the plaintext enciphered.
static Bytes File(Bytes plaintext, const std::string& password)
{
    Secret typed(password.size()), key(password.size() + kKeyStringSlack);
    (void)SecretAppend(&typed, password.data(), password.size());
    MakeKeyString(typed, &key);
    if (plaintext.size() >= 2)
        EncipherPayload(plaintext.data(), static_cast<uint32_t>(plaintext.size()), SecretText(key),
                        static_cast<uint32_t>(key.length));
    Bytes file(512, 0);
    std::memcpy(file.data(), "MZ placeholder stub", 19);
    uint8_t block[256];
    const MarkerFields f = {"\"test\" Decode", 13, 0, 2, 1, 1};
    WriteMarkerBlock(block, &f, file.data(), file.size(), plaintext.data(), plaintext.size());
    file.insert(file.end(), block, block + 256);
    file.insert(file.end(), plaintext.begin(), plaintext.end());
    return file;
}

// The same with the sealed form: fixed salt and nonce prefix, so the file
// comes out the same on every run, and few key-derivation rounds.
static Bytes SealedFile(const Bytes& plaintext, const std::string& password, uint8_t version = kSealedVersion)
{
    Bytes file(512, 0);
    std::memcpy(file.data(), "MZ placeholder stub", 19);
    uint8_t block[256];
    const MarkerFields f = {"\"test\" Decode", 13, 0, 2, 1, 1, kFormSealed};
    FillMarkerBlock(block, &f);
    uint8_t salt[kSealedSaltSize], prefix[kSealedNoncePrefixSize];
    for (uint32_t i = 0; i < sizeof salt; ++i) salt[i] = static_cast<uint8_t>(0x30 + i);
    for (uint32_t i = 0; i < sizeof prefix; ++i) prefix[i] = static_cast<uint8_t>(0x70 + i);
    Bytes payload(SealedPayloadSize(plaintext.size(), kSealedDefaultChunkShift));
    size_t n = 0;
    SealPayloadWith(plaintext.data(), plaintext.size(), block, reinterpret_cast<const uint8_t*>(password.data()),
                    static_cast<uint32_t>(password.size()), 1000, kSealedDefaultChunkShift, salt, prefix,
                    payload.data(), payload.size(), &n);
    payload[4] = version; // a newer writer's file, as far as this reader can tell
    ComputeIntegritySum(file.data(), file.size(), payload.data(), payload.size(), block + kMarkerOffsetIntegritySum);
    file.insert(file.end(), block, block + 256);
    file.insert(file.end(), payload.begin(), payload.end());
    return file;
}

static void WriteFile(const std::string& path, const Bytes& data)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// The contents a good file must give back, written beside it so that
// make-files can record their digest independently of the tool.
static std::string Expect(const std::string& name, const Bytes& content)
{
    WriteFile(dir + "/.content-" + name, content);
    return "=" + name;
}

static void Put(const std::string& name, const Bytes& data, const std::string& password, int exitCode,
                const std::string& digest, const std::string& json)
{
    WriteFile(dir + "/" + name, data);
    expected << name << "|" << password << "|" << exitCode << "|" << digest << "|" << json << "\n";
}

int main(int argc, char** argv)
{
    if (argc < 2) return 1;
    dir = argv[1];
    expected.open(dir + "/expected.txt");
    const Bytes text = testdata::Text(6000, 7), binary = testdata::Binary(4000, 8);
    // "=NAME": make-files puts in the sha256 of .content-NAME.
    Put("good-compressed.exe", File(Compress(Record("notes.txt", text)), "good"), "good", 0, Expect("good-compressed.exe", text),
        "\"fileName\":\"notes.txt\",\"contentLength\":6000,\"attributes\":32,\"creationTime\":127000000000000000,\"lastAccessTime\":127000000010000000,\"lastWriteTime\":127000000020000000,\"encoderSerial\":\"00ABC123\",\"createdAt\":1234567890");
    Put("good-stored.exe", File(Record("data.bin", binary), "good"), "good", 0, Expect("good-stored.exe", binary), "\"contentLength\":4000");
    Put("good-empty.exe", File(Compress(Record("empty.txt", {})), ""), "", 0, Expect("good-empty.exe", {}), "\"contentLength\":0");
    Put("good-readonly.exe", File(Compress(Record("ro.txt", text, 0x21)), "good"), "good", 0, Expect("good-readonly.exe", text), "\"attributes\":33");
    Put("good-japanese.exe", File(Compress(Record("\x93\xFA\x96\x7B\x8C\xEA.txt", text)),
                                  "\x83\x70\x83\x58\x83\x8F\x81\x5B\x83\x68"), "パスワード", 0, Expect("good-japanese.exe", text),
        "\"fileName\":\"日本語.txt\"");
    Put("good-no-check.exe", File(Compress(Record(std::string(252, 'n').c_str(), text)), "good"), "good", 0,
        Expect("good-no-check.exe", text), "\"contentLength\":6000");

    const Bytes good = File(Compress(Record("notes.txt", text)), "good");
    Put("wrong-password.exe", good, "Good", 2, "-", "");
    Bytes changed = good;
    changed[512 + 256 + 40] ^= 0x10;
    Put("bad-integrity.exe", changed, "good", 3, "-", "");
    Bytes noMarker = good;
    noMarker[512 + 13] = '!';
    Put("bad-no-marker.exe", noMarker, "good", 4, "-", "");
    Put("bad-truncated.exe", Bytes(good.begin(), good.end() - 100), "good", 3, "-", "");

    Bytes stream = Compress(Record("notes.txt", text));
    for (size_t i = stream.size() / 2; i < stream.size() / 2 + 40; ++i) stream[i] = static_cast<uint8_t>(stream[i] ^ 0xA5);
    Put("bad-damaged-stream.exe", File(stream, "good"), "good", 5, "-", "");
    Bytes huge = Compress(Record("notes.txt", text));
    StoreLE32(huge.data() + 4, 0xFFFFFFF0u);
    Put("bad-huge-size.exe", File(huge, "good"), "good", 5, "-", "");
    const Bytes emptyRecord = Record("x", {});
    Put("bad-short-record.exe", File(Bytes(emptyRecord.begin(), emptyRecord.begin() + 200), "good"), "good", 5, "-", "");
    Bytes longLength = Record("notes.txt", text);
    StoreLE32(longLength.data() + 5, 6001);
    Put("bad-content-length.exe", File(longLength, "good"), "good", 5, "-", "");
    Bytes altered = Record("notes.txt", text);
    altered[305 + 10] ^= 1; // content no longer matches its check value
    Put("bad-content-check.exe", File(altered, "good"), "good", 5, "-", "");
    Put("bad-one-byte-payload.exe", File(Bytes{0x42}, "good"), "good", 5, "-", "");

    // The sealed form: its failures are told apart by the tags.
    const Bytes sealed = SealedFile(Compress(Record("notes.txt", text)), "good");
    Put("good-sealed.exe", sealed, "good", 0, Expect("good-sealed.exe", text),
        "\"form\":\"sealed\",\"cipher\":\"AES-256-GCM\",\"kdf\":\"PBKDF2-HMAC-SHA256\",\"iterations\":1000");
    Put("good-sealed-stored.exe", SealedFile(Record("data.bin", binary), "good"), "good", 0,
        Expect("good-sealed-stored.exe", binary), "\"contentLength\":4000");
    Put("sealed-wrong-password.exe", sealed, "Good", 2, "-", "");
    Bytes caption = sealed;
    caption[512 + 33] ^= 0x20; // the caption is outside the sum, inside the sealed checks
    Put("sealed-caption-changed.exe", caption, "good", 3, "-", "");
    Bytes tag = sealed;
    tag.back() ^= 1;
    Put("sealed-damaged-tag.exe", tag, "good", 5, "-", "");
    Put("sealed-truncated.exe", Bytes(sealed.begin(), sealed.end() - 1), "good", 5, "-", "");
    Put("sealed-newer-version.exe", SealedFile(Compress(Record("notes.txt", text)), "good", 2), "good", 7, "-", "");
    Bytes form = sealed;
    form[512 + kMarkerOffsetForm] = 9;
    Put("sealed-unknown-form.exe", form, "good", 7, "-", "");
    return 0;
}
