// lumisafe: packs a file into a password-protected self-decoding Windows
// executable, and unpacks, inspects and verifies such files on any system.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "codepage.h"
#include "cipher.h"
#include "container_write.h"
#include "integrity.h"
#include "hostfs.h"
#include "lzap_encode.h"
#include "names.h"
#include "lzap.h"
#include "record_write.h"
#include "sealed.h"
#include "sealed_write.h"
#include "pack.h"
#include "program_part.h"
#include "secret.h"
#include "sfx.h"
#include "zstd_frame.h"

namespace {

// Fewer key-derivation rounds than this are refused: tests use few to run
// fast, but every round fewer makes guessing a password cheaper.
const uint32_t kMinIterations = 1000;

int Fail(int code, const std::string& message)
{
    (void)std::fprintf(stderr, "lumisafe: %s\n", message.c_str());
    return code;
}

void Warn(const std::string& message)
{
    (void)std::fprintf(stderr, "lumisafe: warning: %s\n", message.c_str());
}

// --- options ----------------------------------------------------------------

// The command line: what every command shares, and for pack the request
// itself, which its options fill in directly.
struct Options {
    std::string command, input, output, passwordFile, selfDelete = "off";
    std::string serialText, codepageText, codecText;
    bool force = false, json = false, askPassword = false;
    int codepage = kCodepageAuto;
    PackRequest pack;
};

// --- progress ---------------------------------------------------------------

// A bar on stderr for long work, when stderr is a terminal.
struct Progress {
    const char* label = "";
    bool enabled = false;
    int shown = -1;
    std::chrono::steady_clock::time_point last;
};

void ProgressStart(Progress* p, const char* label, uint64_t total)
{
    p->label = label;
    p->enabled = StderrIsTerminal() && total >= (8u << 20);
    p->shown = -1;
}

void ProgressUpdate(Progress* p, uint64_t done, uint64_t total)
{
    if (!p->enabled || total == 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    const auto now = std::chrono::steady_clock::now();
    if (percent == p->shown || (percent < 100 && now - p->last < std::chrono::milliseconds(100))) return;
    p->shown = percent;
    p->last = now;
    const int filled = percent * 30 / 100;
    (void)std::fprintf(stderr, "\r%-10s [%.*s%*s] %3d%%", p->label, filled, "##############################",
                 30 - filled, "", percent);
}

void ProgressEnd(Progress* p)
{
    if (p->enabled && p->shown >= 0) (void)std::fprintf(stderr, "\r%*s\r", 50, "");
}

// --- passwords --------------------------------------------------------------

// Reads the file straight into the secret: the stream gets no buffer of its
// own, which would keep a copy of the password after the file is closed.
bool ReadPasswordFile(const std::string& path, Secret* out, std::string* error)
{
    std::FILE* f = OpenForReading(path);
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    (void)std::setvbuf(f, nullptr, _IONBF, 0);
    SecretClear(out);
    size_t n;
    while (out->length < out->capacity &&
           (n = std::fread(out->bytes + out->length, 1, out->capacity - out->length, f)) > 0)
        out->length += n;
    const bool bad = std::ferror(f) != 0;
    const bool tooLong = !bad && out->length == out->capacity && std::fgetc(f) != EOF;
    (void)std::fclose(f); // opened for reading: nothing to lose
    if (bad || tooLong) {
        SecretClear(out);
        *error = path + (bad ? ": read error" : ": longer than any password the decoder takes");
        return false;
    }
    if (out->length > 0 && out->bytes[out->length - 1] == '\n') {
        out->bytes[--out->length] = 0;
        if (out->length > 0 && out->bytes[out->length - 1] == '\r') out->bytes[--out->length] = 0;
    }
    out->bytes[out->length] = 0;
    return true;
}

// The password as typed (UTF-8 on this side). From here until the process
// ends its memory is kept out of core files and other processes' reach.
int GetPassword(const Options& o, bool twice, Secret* typed)
{
    ProtectProcessMemory();
    std::string error;
    if (!o.passwordFile.empty()) {
        if (!ReadPasswordFile(o.passwordFile, typed, &error)) return Fail(kExitIo, error);
        return kExitOk;
    }
    const int got = ReadSecret("Password: ", typed);
    if (got == kSecretNoTerminal) return Fail(kExitUsage, "no terminal to ask the password on; use --password-file");
    if (got == kSecretEnd) return Fail(kExitUsage, "no password given");
    if (got == kSecretTooLong) return Fail(kExitUsage, "the password is longer than the decoder takes");
    if (twice) {
        Secret again;
        if (ReadSecret("Password again: ", &again) != kSecretRead || !SecretEqual(again, *typed))
            return Fail(kExitUsage, "the passwords do not match");
    }
    return kExitOk;
}

// The byte strings a Windows user could have typed for this password, into
// out (two at most); returns how many.
int PasswordCandidates(const Secret& typed, int codepage, Secret* out)
{
    if (IsAscii(SecretText(typed), typed.length) || !IsValidUtf8(SecretText(typed), typed.length))
        return SecretAppend(&out[0], typed.bytes, typed.length) ? 1 : 0;
    int count = 0;
    for (int cp : {kCodepage932, kCodepage1252}) {
        if (codepage != kCodepageAuto && cp != codepage) continue;
        if (PasswordInCodepage(typed, cp, &out[count])) ++count;
    }
    return count;
}

// --- info, verify and unpack --------------------------------------------------

using Json = nlohmann::ordered_json;

std::string DisplayText(const std::string& ansi, int codepage)
{
    if (IsAscii(ansi)) return ansi;
    const int cp = codepage != kCodepageAuto ? codepage : GuessStoredCodepage(ansi);
    std::string utf8;
    return CodepageToUtf8(ansi, cp, &utf8) ? utf8 : ansi;
}

std::string Plural(uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// What the marker block and the payload's first bytes say of the form.
struct FormInfo {
    std::string name;  // "classic", "sealed" or "unknown"
    int headerStatus;  // sealed: kSealedOk, kSealedNewer or kSealedDamaged
    SealedHeader header;
};

FormInfo DescribeForm(const SfxLayout& l)
{
    FormInfo f = {};
    if (l.form == kFormClassic) f.name = "classic";
    else if (l.form == kFormSealed) f.name = "sealed";
    else f.name = "unknown";
    if (l.form == kFormSealed) f.headerStatus = ParseSealedHeader(l.payloadHead, l.payloadHeadLength, &f.header);
    return f;
}

void AddFormJson(Json* j, const FormInfo& f)
{
    (*j)["form"] = f.name;
    if (f.name == "sealed" && f.headerStatus == kSealedOk) {
        (*j)["cipher"] = "AES-256-GCM";
        (*j)["kdf"] = "PBKDF2-HMAC-SHA256";
        (*j)["iterations"] = f.header.iterations;
        (*j)["chunkSize"] = 1u << f.header.chunkShift;
        // codec 0 leaves LZAP and stored to the record inside, which only
        // the password shows.
        (*j)["codec"] = f.header.codec == kSealedCodecZstd ? "zstd" : "lzap-or-stored";
        if (f.header.codec == kSealedCodecZstd) (*j)["level"] = f.header.level;
    }
}

std::string CodecText(const SealedHeader& h)
{
    if (h.codec == kSealedCodecZstd) return "zstd, level " + std::to_string(h.level);
    return "LZAP, or stored";
}

// Why a sealed header is not followed: a later version's form, or more
// key-derivation rounds than this version will run.
bool TooManyRounds(const FormInfo& f)
{
    return f.headerStatus == kSealedNewer && f.header.version == kSealedVersion &&
           f.header.kdf == kSealedKdfPbkdf2Sha256 && f.header.iterations > kSealedMaxIterations;
}

std::string NewerText(const FormInfo& f)
{
    if (TooManyRounds(f))
        return "made by a newer version of lumisafe, or damaged: it asks for " + std::to_string(f.header.iterations) +
               " key-derivation rounds, more than the " + std::to_string(uint32_t{kSealedMaxIterations}) +
               " this version runs";
    if (f.header.version == kSealedVersion && f.header.kdf == kSealedKdfPbkdf2Sha256 &&
        f.header.codec > kSealedCodecZstd)
        return "made by a newer version of lumisafe (its compression, codec " + std::to_string(f.header.codec) +
               ", is unknown to this version)";
    return "made by a newer version of lumisafe (unknown format version or key derivation)";
}

std::string FormText(const FormInfo& f)
{
    if (f.name == "classic") return "classic (obfuscation only: not a protection against a determined reader)";
    if (f.name == "unknown") return "unknown: made by a newer version";
    if (f.headerStatus == kSealedNewer) return "sealed, " + NewerText(f);
    if (f.headerStatus != kSealedOk) return "sealed, header damaged";
    return "sealed: AES-256-GCM, key from PBKDF2-HMAC-SHA256 with " + std::to_string(f.header.iterations) +
           " iterations, chunks of " + std::to_string(1u << f.header.chunkShift) + " bytes, " + CodecText(f.header);
}

// The marker block's flags in words, as the password dialog applies them.
std::string YesNo(int32_t flag)
{
    return flag ? "yes" : "no";
}

std::string SelfDeleteWords(int32_t mode)
{
    switch (mode) {
    case 0: return "always (the Suicide box is checked and cannot be cleared)";
    case 1: return "on (the Suicide box is checked; the user may clear it)";
    default: return "off (the Suicide box is not checked; the user may check it)";
    }
}

// The civil date of a day counted from 1970-01-01 (proleptic Gregorian), by
// whole 400-year eras; the system's own conversion refuses dates before 1970
// on some hosts, and a stored time may be as early as 1601.
void CivilFromDays(int64_t days, int64_t* year, int* month, int* day)
{
    days += 719468; // from 0000-03-01
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t m = (5 * dayOfYear + 2) / 153;
    *day = static_cast<int>(dayOfYear - (153 * m + 2) / 5 + 1);
    *month = static_cast<int>(m < 10 ? m + 3 : m - 9);
    *year = yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

// A FILETIME (100 ns units since 1601) as ISO 8601 UTC, to the 100 ns.
std::string IsoTime(uint64_t filetime)
{
    const uint64_t kEpoch = 116444736000000000ull; // 1970-01-01 in FILETIME units
    const int64_t units = static_cast<int64_t>(filetime - kEpoch);
    int64_t seconds = units / 10000000;
    int64_t rest = units % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    int64_t days = seconds / 86400, secondOfDay = seconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    int64_t year = 0;
    int month = 0, day = 0;
    CivilFromDays(days, &year, &month, &day);
    const int hms = static_cast<int>(secondOfDay);
    char text[64];
    (void)std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%07dZ", static_cast<long long>(year), month,
                        day, hms / 3600, hms / 60 % 60, hms % 60, static_cast<int>(rest));
    return text;
}

std::string IsoSeconds(int32_t unixTime)
{
    return IsoTime(static_cast<uint64_t>(static_cast<int64_t>(unixTime) * 10000000 + 116444736000000000LL));
}

Json AttributeNames(uint32_t attributes)
{
    static const struct {
        uint32_t bit;
        const char* name;
    } kNames[] = {{0x1, "readOnly"}, {0x2, "hidden"}, {0x4, "system"}, {0x10, "directory"}, {0x20, "archive"},
                  {0x80, "normal"}, {0x100, "temporary"}, {0x200, "sparse"}, {0x400, "reparsePoint"},
                  {0x800, "compressed"}, {0x1000, "offline"}, {0x2000, "notIndexed"}, {0x4000, "encrypted"}};
    Json names = Json::array();
    for (const auto& n : kNames)
        if (attributes & n.bit) names.push_back(n.name);
    return names;
}

// --- the program part ---------------------------------------------------------

const char kUnknownProgramWarning[] =
    "the program part of this file is not a decoder stub lumisafe knows. When the file is run on Windows, "
    "that program receives the password typed into it: do not run the file; 'lumisafe unpack' opens it "
    "without running anything";

ProgramPart IdentifyProgram(const Options& o, const SfxLayout& l)
{
    ProgramPart part;
    std::string error;
    if (!IdentifyProgramPart(o.input, l.markerOffset, &part, &error)) part = ProgramPart(); // unknown
    return part;
}

std::string ProgramText(const ProgramPart& p)
{
    if (p.known) return "known: " + p.knownAs + " (SHA-256 " + p.sha256 + ")";
    return "UNKNOWN program" + (p.sha256.empty() ? std::string() : " (SHA-256 " + p.sha256 + ")");
}

void AddProgramJson(Json* j, const ProgramPart& p)
{
    Json part;
    part["known"] = p.known;
    part["sha256"] = p.sha256;
    if (p.known) part["knownAs"] = p.knownAs;
    else part["warning"] = kUnknownProgramWarning;
    (*j)["programPart"] = part;
}

// --- a signature ------------------------------------------------------------

const char kSignatureCheckers[] = "signtool verify /pa on Windows, osslsigncode verify elsewhere";

std::string SignatureText(const SfxLayout& l)
{
    if (!l.signatureSize) return "none";
    return "an Authenticode certificate table of " + Plural(l.signatureSize, "byte", "bytes") +
           " after the payload; lumisafe does not check it (" + kSignatureCheckers + " do)";
}

void AddSignatureJson(Json* j, const SfxLayout& l)
{
    Json sig;
    sig["present"] = l.signatureSize != 0;
    if (l.signatureSize) {
        sig["size"] = l.signatureSize;
        sig["checked"] = false;
        sig["checkWith"] = kSignatureCheckers;
    }
    (*j)["signature"] = sig;
}

// Reads the file, refusing a folder plainly.
int ReadLayout(const Options& o, SfxLayout* l, std::vector<uint8_t>* payload)
{
    if (IsDirectory(o.input)) return Fail(kExitNotSfx, o.input + ": is a folder, not a self-decoding file");
    std::string error;
    // The bar starts with the first piece read, which brings the file's size.
    Progress progress;
    bool started = false;
    const int rc = ReadSfx(o.input, l, payload, &error, [&](uint64_t done, uint64_t total) {
        if (!started) ProgressStart(&progress, "reading", total);
        started = true;
        ProgressUpdate(&progress, done, total);
    });
    ProgressEnd(&progress);
    return rc == kExitOk ? kExitOk : Fail(rc, error);
}

int RunInfo(const Options& o)
{
    SfxLayout l;
    const int rc = ReadLayout(o, &l, nullptr);
    if (rc != kExitOk) return rc;
    const MarkerSettings& s = l.settings;
    const std::string caption = DisplayText(s.dialogCaption, o.codepage);
    const FormInfo form = DescribeForm(l);
    const ProgramPart program = IdentifyProgram(o, l);
    if (o.json) {
        Json j;
        j["fileLength"] = l.fileLength;
        j["markerOffset"] = l.markerOffset;
        j["payloadOffset"] = l.payloadOffset;
        j["payloadLength"] = l.payloadLength;
        j["caption"] = caption;
        j["openAfterDecode"] = s.openAfterDecode;
        j["selfDeleteMode"] = s.selfDeleteMode;
        j["allowSavePassword"] = s.allowSavePassword;
        j["showEncoderInfo"] = s.showEncoderInfo;
        j["integrity"] = l.integrityOk ? "ok" : "mismatch";
        AddFormJson(&j, form);
        AddProgramJson(&j, program);
        AddSignatureJson(&j, l);
        j["flags"] = {{"openAfterDecode", YesNo(s.openAfterDecode)},
                      {"selfDeleteMode", SelfDeleteWords(s.selfDeleteMode)},
                      {"allowSavePassword", YesNo(s.allowSavePassword)},
                      {"showEncoderInfo", YesNo(s.showEncoderInfo)}};
        std::printf("%s\n", j.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
    } else {
        std::printf("file length        %s\n", Plural(l.fileLength, "byte", "bytes").c_str());
        std::printf("stub length        %s (marker block at %" PRIu64 ")\n", Plural(l.markerOffset, "byte", "bytes").c_str(),
                    l.markerOffset);
        std::printf("payload            %s at %" PRIu64 "\n", Plural(l.payloadLength, "byte", "bytes").c_str(), l.payloadOffset);
        std::printf("caption            %s\n", caption.c_str());
        std::printf("open after decode  %s\n", YesNo(s.openAfterDecode).c_str());
        std::printf("self-delete        %s\n", SelfDeleteWords(s.selfDeleteMode).c_str());
        std::printf("save password      %s\n", s.allowSavePassword ? "offered" : "not offered");
        std::printf("show encoder       %s\n", YesNo(s.showEncoderInfo).c_str());
        std::printf("integrity sum      %s\n", l.integrityOk ? "ok" : "mismatch: the file was changed after it was made");
        std::printf("form               %s\n", FormText(form).c_str());
        std::printf("program part       %s\n", ProgramText(program).c_str());
        std::printf("signature          %s\n", SignatureText(l).c_str());
        if (!program.known) Warn(kUnknownProgramWarning);
    }
    return l.integrityOk ? kExitOk : kExitIntegrity;
}

std::string OutputPathFor(const Options& o, const RecordHeader& h)
{
    const std::string name = SafeOutputName(std::string(h.fileName, strnlen(h.fileName, sizeof h.fileName)), o.codepage);
    if (o.output.empty()) return name;
    if (IsDirectory(o.output)) return JoinPath(o.output, name);
    return o.output;
}

Json HeaderJson(const RecordHeader& h, int codepage)
{
    Json j;
    j["fileName"] = DisplayText(h.fileName, codepage);
    j["contentLength"] = h.contentLength;
    j["attributes"] = h.attributes;
    j["creationTime"] = h.creationTime;
    j["lastAccessTime"] = h.lastAccessTime;
    j["lastWriteTime"] = h.lastWriteTime;
    char serial[9];
    (void)std::snprintf(serial, sizeof serial, "%08X", h.encoderSerial);
    j["encoderSerial"] = serial;
    j["createdAt"] = h.createdAt;
    j["attributeNames"] = AttributeNames(h.attributes);
    j["creationTimeUtc"] = IsoTime(h.creationTime);
    j["lastAccessTimeUtc"] = IsoTime(h.lastAccessTime);
    j["lastWriteTimeUtc"] = IsoTime(h.lastWriteTime);
    j["createdAtUtc"] = IsoSeconds(h.createdAt);
    return j;
}

// The result of decoding a whole file: exit code 0 with the header, or the
// failure already reported.
struct Decoded {
    int exitCode = kExitOk;
    RecordHeader header = {};
};

// The password, asked once: before a long read when the file looks like a
// self-decoding file at all, else when it is needed.
struct Password {
    bool asked = false;
    Secret typed;
};

int AskEarly(const Options& o, Password* password)
{
    if (!MarkerNearStart(o.input, size_t{4} << 20)) return kExitOk; // the read will say what is wrong
    password->asked = true;
    return GetPassword(o, false, &password->typed);
}

// A payload that opens with a sealed header this version reads.
bool LooksSealed(const std::vector<uint8_t>& payload)
{
    SealedHeader h;
    return ParseSealedHeader(payload.data(), payload.size(), &h) != kSealedDamaged;
}

// Decodes the payload under the password, streaming the record to the sink
// (which may write nothing), and tells each failure for what it is.
// sumDisagrees: the integrity sum did not match and the caller decodes all
// the same (--force, or a sealed file's check).
Decoded DecodeFile(const Options& o, const SfxLayout& l, std::vector<uint8_t>* payload, RecordSink* sink,
                   bool sumDisagrees, const std::string* sinkError, Password* password)
{
    Decoded d;
    const FormInfo form = DescribeForm(l);
    if (l.form != kFormClassic && l.form != kFormSealed) {
        d.exitCode = Fail(kExitNewer, o.input + ": made by a newer version of lumisafe (unknown payload form " +
                                          std::to_string(l.form) + ")");
        return d;
    }
    if (l.form == kFormSealed && form.headerStatus == kSealedNewer) {
        d.exitCode = Fail(kExitNewer, o.input + ": " + NewerText(form));
        return d;
    }
    if (payload->size() < 2) {
        d.exitCode = Fail(kExitDamaged, o.input + ": damaged: the payload is empty");
        return d;
    }
    if (!password->asked) {
        password->asked = true;
        const int rc = GetPassword(o, false, &password->typed);
        if (rc != kExitOk) {
            d.exitCode = rc;
            return d;
        }
    }
    Secret candidates[2];
    const int count = PasswordCandidates(password->typed, o.codepage, candidates);
    if (count == 0) {
        d.exitCode = Fail(kExitUsage, "the password has characters of neither code page 932 nor 1252");
        return d;
    }
    int result = kDecodeWrong;
    for (int i = 0; i < count; ++i) {
        if (l.form == kFormSealed) {
            result = DecodeSealedPayload(payload, l.marker, candidates[i], sink, &d.header);
        } else {
            Secret key(candidates[i].length + kKeyStringSlack);
            MakeKeyString(candidates[i], &key);
            result = DecodePayload(payload, key, sink, &d.header);
        }
        if (result != kDecodeWrong) break; // the other failures hold for every candidate
    }
    // A sealed payload behind a form byte that says classic: the marker block
    // was changed, since no password opens a sealed payload the classic way.
    if (result == kDecodeWrong && l.form == kFormClassic && LooksSealed(*payload)) {
        d.exitCode = Fail(kExitIntegrity, o.input + ": changed after it was made: its payload is sealed, but the "
                                                    "marker block says it is not");
        return d;
    }
    switch (result) {
    case kDecodeOk: return d;
    case kDecodeSinkFailed: d.exitCode = Fail(kExitIo, *sinkError); break;
    case kDecodeWrong:
        // With the sum already disagreeing, a failed password check is more
        // likely a changed file than a mistyped password.
        if (sumDisagrees)
            d.exitCode = Fail(kExitIntegrity, o.input + ": integrity mismatch: the file was changed after it was made, "
                                                        "and the password does not open it");
        else if (l.form == kFormSealed) d.exitCode = Fail(kExitWrongPassword, "wrong password");
        else d.exitCode = Fail(kExitWrongPassword, "wrong password, or the file is damaged (its older form cannot tell)");
        break;
    case kDecodeTampered:
        d.exitCode = Fail(kExitIntegrity, o.input + ": the caption or the flags were changed after the file was made");
        break;
    case kDecodeNewer:
        d.exitCode = Fail(kExitNewer, o.input + ": made by a newer version of lumisafe (unknown format version or key derivation)");
        break;
    case kDecodeFailed: d.exitCode = Fail(kExitIo, "the cryptography failed (out of memory?)"); break;
    case kDecodeShort: d.exitCode = Fail(kExitDamaged, o.input + ": damaged: the payload is too short"); break;
    default: d.exitCode = Fail(kExitDamaged, o.input + ": damaged: the payload is cut short or changed"); break;
    }
    return d;
}

// What the integrity sum covers, said exactly.
std::string SumCoverage(const SfxLayout& l)
{
    const uint64_t unsummed = l.payloadLength % 16;
    return "the stub and the payload" +
           (unsummed ? " but its last " + Plural(unsummed, "byte", "bytes") : std::string()) +
           "; it does not cover the caption and the flags, and it is a simple sum, not a signature";
}

int RunVerify(const Options& o)
{
    SfxLayout l;
    std::vector<uint8_t> payload;
    const bool decode = o.askPassword || !o.passwordFile.empty();
    Password password;
    int rc = decode ? AskEarly(o, &password) : kExitOk;
    if (rc != kExitOk) return rc;
    rc = ReadLayout(o, &l, decode ? &payload : nullptr);
    if (rc != kExitOk) return rc;
    const FormInfo form = DescribeForm(l);
    if (!decode) {
        if (!l.integrityOk)
            return Fail(kExitIntegrity, o.input + ": integrity mismatch: the file was changed after it was made");
        const ProgramPart program = IdentifyProgram(o, l);
        if (o.json) {
            Json j;
            j["integrity"] = "ok";
            AddFormJson(&j, form);
            AddProgramJson(&j, program);
            AddSignatureJson(&j, l);
            j["decoded"] = false;
            std::printf("%s\n", j.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
        } else {
            std::printf("%s: integrity sum ok: it covers %s\n", o.input.c_str(), SumCoverage(l).c_str());
            std::printf("form: %s\n", FormText(form).c_str());
            std::printf("program part: %s\n", ProgramText(program).c_str());
            std::printf("signature: %s\n", SignatureText(l).c_str());
            if (!program.known) Warn(kUnknownProgramWarning);
            std::printf("(--password or --password-file also decodes the whole file, writing nothing)\n");
        }
        return kExitOk;
    }
    // A test decode: every byte is decoded and checked, nothing is written.
    RecordSink sink;
    sink.begin = [](const RecordHeader&) { return true; };
    sink.write = [](const uint8_t*, size_t) { return true; };
    const std::string noError;
    const Decoded d = DecodeFile(o, l, &payload, &sink, !l.integrityOk, &noError, &password);
    if (d.exitCode != kExitOk) return d.exitCode;
    if (!l.integrityOk)
        return Fail(kExitIntegrity, o.input + ": integrity mismatch: the contents decode, but the file was changed after it was made");
    const ProgramPart program = IdentifyProgram(o, l);
    if (o.json) {
        Json j = HeaderJson(d.header, o.codepage);
        j["integrity"] = "ok";
        AddFormJson(&j, form);
        AddProgramJson(&j, program);
        AddSignatureJson(&j, l);
        j["decoded"] = true;
        std::printf("%s\n", j.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
    } else {
        std::printf("%s: ok: %s, %s, decodes whole%s\n", o.input.c_str(),
                    DisplayText(d.header.fileName, o.codepage).c_str(),
                    Plural(d.header.contentLength, "byte", "bytes").c_str(),
                    l.form == kFormSealed ? "; every chunk authenticated" : " and matches its content check");
        std::printf("program part: %s\n", ProgramText(program).c_str());
        std::printf("signature: %s\n", SignatureText(l).c_str());
        if (!program.known) Warn(kUnknownProgramWarning);
    }
    return kExitOk;
}

int RunUnpack(const Options& o)
{
    SfxLayout l;
    std::vector<uint8_t> payload;
    Password password;
    int rc = AskEarly(o, &password);
    if (rc != kExitOk) return rc;
    rc = ReadLayout(o, &l, &payload);
    if (rc != kExitOk) return rc;
    // A sealed payload proves itself: when the sum disagrees, the decode runs
    // without writing and its tags tell damage and changed flags apart; only
    // an intact payload behind a changed sum points at the program part.
    const bool dryRun = !l.integrityOk && !o.force && l.form == kFormSealed;
    if (!l.integrityOk && !o.force && !dryRun)
        return Fail(kExitIntegrity, o.input + ": integrity mismatch: the file was changed after it was made (--force decodes it anyway)");

    PendingFile out;
    std::string outputPath, error;
    bool wouldReplaceInput = false;
    Progress progress;
    ProgressStart(&progress, "unpacking", payload.size() * 2);
    RecordSink sink;
    sink.begin = [&](const RecordHeader& h) {
        outputPath = OutputPathFor(o, h);
        if (dryRun) return true;
        // Never replace the input, however the output is spelled.
        if (SameFile(outputPath, o.input)) {
            wouldReplaceInput = true;
            error = outputPath + ": is the self-decoding file itself; choose another output with -o";
            return false;
        }
        if (!o.force && PathExists(outputPath)) {
            error = outputPath + ": exists (use --force to overwrite)";
            return false;
        }
        return PendingOpen(&out, outputPath, false, &error);
    };
    sink.write = [&](const uint8_t* p, size_t n) { return dryRun || PendingWrite(&out, p, n, &error); };
    sink.progress = [&](uint64_t done, uint64_t total) {
        if (total) ProgressUpdate(&progress, done, total);
    };
    const Decoded d = DecodeFile(o, l, &payload, &sink, !l.integrityOk, &error, &password);
    ProgressEnd(&progress);
    if (d.exitCode != kExitOk) {
        PendingAbandon(&out);
        // The output that would replace the input is a usage error, not I/O.
        return wouldReplaceInput ? kExitUsage : d.exitCode;
    }
    if (dryRun)
        return Fail(kExitIntegrity, o.input + ": integrity mismatch: the sealed contents are intact, but the program "
                                              "part of the file was changed (--force decodes it anyway)");
    const RecordHeader& header = d.header;
    FileMeta meta = {header.creationTime, header.lastAccessTime, header.lastWriteTime, header.attributes, 0};
    if (!PendingCommit(&out, &meta, o.force, &error)) {
        PendingAbandon(&out);
        return Fail(kExitIo, error);
    }
    const ProgramPart program = IdentifyProgram(o, l);
    if (!program.known) Warn(kUnknownProgramWarning);
    if (o.json) {
        Json j = HeaderJson(header, o.codepage);
        j["output"] = outputPath;
        AddFormJson(&j, DescribeForm(l));
        AddProgramJson(&j, program);
        AddSignatureJson(&j, l);
        std::printf("%s\n", j.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
    } else {
        (void)std::fprintf(stderr, "%s: %s\n", outputPath.c_str(), Plural(header.contentLength, "byte", "bytes").c_str());
    }
    return kExitOk;
}

// --- pack -------------------------------------------------------------------

PackRequest MakePackRequest(const Options& o)
{
    PackRequest r = o.pack;
    r.input = o.input;
    r.output = o.output;
    r.force = o.force;
    r.codepage = o.codepage;
    r.selfDeleteMode = o.selfDelete == "always" ? 0 : o.selfDelete == "on" ? 1 : 2;
    // LZAP where the form or the options ask for it: classic, or --lookahead.
    if (o.codecText == "lzap" || r.classic || r.lookahead) r.codec = kSealedCodecRecord;
    return r;
}

int RunPack(const Options& o)
{
    PackPlan plan;
    std::string error;
    int rc = PackCheck(MakePackRequest(o), &plan, &error);
    if (rc != kExitOk) return Fail(rc, error);
    for (const std::string& w : plan.warnings) Warn(w);
    Secret typed;
    rc = GetPassword(o, true, &typed);
    if (rc != kExitOk) return rc;
    // One bar per pass over the input.
    Progress bar;
    int barStage = -1;
    const PackProgress progress = [&](int stage, uint64_t done, uint64_t total) {
        if (stage != barStage) {
            ProgressEnd(&bar);
            ProgressStart(&bar, stage == kPackCompressing ? "packing" : "reading", total);
            barStage = stage;
        }
        ProgressUpdate(&bar, done, total);
        return true;
    };
    PackResult result;
    rc = PackWrite(plan, typed, progress, &result, &error);
    ProgressEnd(&bar);
    SecretClear(&typed);
    if (rc != kExitOk) return Fail(rc, error);
    const std::string how = result.stored                          ? "stored"
                            : result.codec == kSealedCodecZstd ? "zstd level " + std::to_string(o.pack.level)
                                                               : "LZAP";
    (void)std::fprintf(stderr, "%s: %s (%s, %s, %s of contents)\n", result.outputPath.c_str(),
                       Plural(result.fileLength, "byte", "bytes").c_str(), o.pack.classic ? "classic" : "sealed",
                       how.c_str(), Plural(result.contentLength, "byte", "bytes").c_str());
    return kExitOk;
}


// --- command line -----------------------------------------------------------

const char kExitCodes[] =
    "Exit codes: 0 done, 1 usage, 2 wrong password (or, for an older classic file, a\n"
    "damaged one), 3 integrity mismatch or a changed file, 4 not a self-decoding file,\n"
    "5 damaged, 6 I/O error, 7 made by a newer version.";

const char kPasswords[] =
    "Passwords are asked on the terminal without echo, or read from --password-file\n"
    "(its bytes, less one trailing line break). A non-ASCII password is converted to\n"
    "the Windows code page a user of the file would type it in: --codepage, else 1252\n"
    "when it fits and 932 otherwise for pack; unpack and verify try both.";

// Up to eight hexadecimal digits, as the encoder information dialog shows them.
std::string CheckSerial(const std::string& v)
{
    if (v.empty() || v.size() > 8 || v.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return "takes up to 8 hexadecimal digits";
    return "";
}

void AddPasswordOptions(CLI::App* c, Options* o)
{
    c->add_option("--password-file", o->passwordFile, "read the password from this file instead of the terminal");
    c->add_option("--codepage", o->codepageText, "the Windows code page of a non-ASCII password")
        ->check(CLI::IsMember({"932", "1252"}));
}

void BuildCommandLine(CLI::App* app, Options* o)
{
    app->description("lumisafe packs a file into a password-protected self-decoding Windows program,\n"
                     "and unpacks, inspects and verifies such files.");
    app->footer(std::string(kPasswords) + "\n\n" + kExitCodes);
    app->set_version_flag("--version", "lumisafe " LUMISAFE_VERSION);
    app->require_subcommand(1);

    CLI::App* pack = app->add_subcommand("pack", "pack a file into a self-decoding file (sealed by default)");
    pack->add_option("input", o->input, "the file to pack")->required();
    pack->add_option("-o,--output", o->output, "the self-decoding file, or a folder for it (default: the input's stem + .exe)");
    pack->add_option("--stub", o->pack.stubPath, "the decoder stub (default: lumisafe-stub.exe beside the tool, or the build's)");
    pack->add_option("--caption", o->pack.caption, "the password dialog's title, in clear in the file (default: \"Decode sealed file\", or \"NAME\" Decode with --classic; 206 bytes at most)");
    pack->add_flag("--open-after", o->pack.openAfter, "open the file with its program after decoding");
    pack->add_option("--self-delete", o->selfDelete, "delete the self-decoding file after decoding: always, on (the user may untick it) or off")
        ->check(CLI::IsMember({"always", "on", "off"}));
    pack->add_flag("--save-password", o->pack.savePassword, "offer to remember the password on the decoding machine");
    pack->add_flag("--show-encoder", o->pack.showEncoder, "show which machine encoded the file before saving it");
    CLI::Option* store = pack->add_flag("--store", o->pack.store, "do not compress");
    CLI::Option* lookahead = pack->add_flag("--lookahead", o->pack.lookahead, "look one byte ahead before each match (smaller prose, slower)");
    store->excludes(lookahead);
    pack->add_option("--serial", o->serialText, "the encoder serial, 8 hex digits (default: this machine's)")
        ->check(CLI::Validator(CheckSerial, "HEX"));
    CLI::Option* classic = pack->add_flag("--classic", o->pack.classic, "make the older classic form: obfuscation only");
    CLI::Option* iterations = pack->add_option("--iterations", o->pack.iterations, "key-derivation rounds of a sealed file (default 1000000)")
        ->check(CLI::Range(kMinIterations, uint32_t{kSealedMaxIterations}));
    classic->excludes(iterations);
    CLI::Option* codec = pack->add_option("--codec", o->codecText, "a sealed file's compression: zstd (default) or lzap, the classic form's coder")
        ->check(CLI::IsMember({"zstd", "lzap"}));
    CLI::Option* level = pack->add_option("--level", o->pack.level, "zstd level, 1 (fastest) to 19 (smallest); default " + std::to_string(int{kPackDefaultLevel}))
        ->check(CLI::Range(1, int{kZstdMaxLevel}));
    CLI::Option* longWindow = pack->add_flag("--long", o->pack.longWindow, "zstd: find matches across the largest window a reader allows (16 MiB)");
    for (CLI::Option* zstdOnly : {level, longWindow}) {
        zstdOnly->excludes(classic);
        zstdOnly->excludes(store);
    }
    codec->excludes(classic);
    lookahead->excludes(level);
    lookahead->excludes(longWindow);
    pack->add_flag("--force", o->force, "replace an existing output");
    AddPasswordOptions(pack, o);

    CLI::App* unpack = app->add_subcommand("unpack", "decode a self-decoding file into the file it holds");
    unpack->add_option("file", o->input, "the self-decoding file")->required();
    unpack->add_option("-o,--output", o->output, "the output file, or a folder for it (default: the stored name here)");
    unpack->add_flag("--force", o->force, "replace an existing output; decode a file whose sum disagrees");
    unpack->add_flag("--json", o->json, "print the stored header as JSON");
    AddPasswordOptions(unpack, o);

    CLI::App* info = app->add_subcommand("info", "show a self-decoding file's marker block and form");
    info->add_option("file", o->input, "the self-decoding file")->required();
    info->add_flag("--json", o->json, "print as JSON");

    CLI::App* verify = app->add_subcommand("verify", "check a self-decoding file; with a password, decode it without writing");
    verify->add_option("file", o->input, "the self-decoding file")->required();
    verify->add_flag("--password", o->askPassword, "ask the password and decode the whole file, writing nothing");
    verify->add_flag("--json", o->json, "print the result as JSON");
    AddPasswordOptions(verify, o);
}

int UsageError(const std::string& message, const std::string& command = "")
{
    (void)std::fprintf(stderr, "lumisafe: %s\nTry 'lumisafe%s --help' for more information.\n", message.c_str(),
                       command.c_str());
    return kExitUsage;
}

// What the parser would get wrong or say too much about: an option before the
// command, and a value given to --password, which is a password typed where
// it lands in the shell's history and the logs, never to be repeated again.
int CheckArgumentsPlainly(const std::vector<std::string>& arguments)
{
    if (arguments.size() >= 2) {
        const std::string& first = arguments[1];
        if (first.size() > 1 && first[0] == '-' && first != "-h" && first != "--help" && first != "--version")
            return UsageError("unknown option '" + first.substr(0, first.find('=')) +
                              "' (options follow the command: lumisafe COMMAND [OPTIONS])");
    }
    for (size_t i = 1; i < arguments.size() && arguments[i] != "--"; ++i)
        if (arguments[i].compare(0, 11, "--password=") == 0)
            return UsageError("--password takes no value: it asks for the password on the terminal "
                              "(--password-file FILE reads it from a file); the value given is not shown");
    return kExitOk;
}

// A parser message with the argument after --password (perhaps a password
// typed there by mistake) left out.
std::string WithoutPassword(std::string message, const std::vector<std::string>& arguments)
{
    for (size_t i = 1; i + 1 < arguments.size() && arguments[i] != "--"; ++i) {
        if (arguments[i] != "--password" || arguments[i + 1].empty()) continue;
        const std::string& value = arguments[i + 1];
        for (size_t at; (at = message.find(value)) != std::string::npos;)
            message.replace(at, value.size(), "(not shown)");
    }
    return message;
}

int Main(const std::vector<std::string>& arguments)
{
    std::vector<char*> args;
    for (const std::string& a : arguments) args.push_back(const_cast<char*>(a.c_str()));
    const int argc = static_cast<int>(args.size());
    char** argv = args.data();
    CLI::App app("", "lumisafe");
    Options o;
    BuildCommandLine(&app, &o);
    // No command at all: the help, which is what someone trying the program
    // wants; started from Explorer, it stays on screen until read.
    if (argc < 2) {
        (void)std::fputs(app.help().c_str(), stdout);
        if (ConsoleClosesWithProgram()) {
            (void)std::fputs("\nlumisafe is a command-line tool: run it from a Command Prompt or PowerShell,\n"
                             "or pack files in a window with lumisafe-pack.exe.\nPress Enter to close.",
                             stdout);
            (void)std::fflush(stdout);
            (void)std::getchar();
        }
        return kExitUsage;
    }
    const std::vector<std::string> commands = {"pack", "unpack", "info", "verify"};
    if (argc >= 2 && argv[1][0] != '-' && std::find(commands.begin(), commands.end(), argv[1]) == commands.end()) {
        (void)std::fprintf(stderr, "lumisafe: unknown command '%s'\nTry 'lumisafe --help' for more information.\n",
                           argv[1]);
        return kExitUsage;
    }
    // Before the parser sees them, which would repeat a value in its message.
    const int early = CheckArgumentsPlainly(arguments);
    if (early != kExitOk) return early;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        (void)std::fputs(app.help().c_str(), stdout); // the command's own help when one was named
        return kExitOk;
    } catch (const CLI::CallForVersion& e) {
        (void)std::printf("%s\n", e.what());
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        // A help request inside a command is CallForHelp too, but names it.
        std::string command;
        for (const CLI::App* c : app.get_subcommands()) command = " " + c->get_name();
        (void)std::fprintf(stderr, "lumisafe: %s\nTry 'lumisafe%s --help' for more information.\n",
                           WithoutPassword(e.what(), arguments).c_str(), command.c_str());
        return kExitUsage;
    }
    o.command = app.get_subcommands().front()->get_name();
    if (!o.serialText.empty()) {
        o.pack.serial = static_cast<uint32_t>(std::stoul(o.serialText, nullptr, 16));
        o.pack.haveSerial = true;
    }
    o.pack.haveCaption = app.get_subcommand("pack")->count("--caption") > 0;
    if (!o.codepageText.empty()) o.codepage = o.codepageText == "932" ? kCodepage932 : kCodepage1252;
    if (o.command == "pack") return RunPack(o);
    if (o.command == "unpack") return RunUnpack(o);
    if (o.command == "info") return RunInfo(o);
    return RunVerify(o);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Main(ProgramArguments(argc, argv));
    } catch (const std::bad_alloc&) {
        return Fail(kExitIo, "out of memory");
    } catch (const std::exception& e) {
        return Fail(kExitIo, e.what());
    } catch (...) {
        return Fail(kExitIo, "unexpected failure");
    }
}
