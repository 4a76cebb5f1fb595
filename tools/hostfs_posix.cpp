#include "hostfs.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <vector>

#include "record.h"

namespace {

const uint64_t kUnixEpochAsFiletime = 116444736000000000ull;

uint64_t ToFiletime(const struct timespec& ts)
{
    const int64_t units = static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
    return static_cast<uint64_t>(units + static_cast<int64_t>(kUnixEpochAsFiletime));
}

struct timespec FromFiletime(uint64_t ft)
{
    struct timespec ts;
    if (ft == 0) {
        ts.tv_sec = 0;
        ts.tv_nsec = UTIME_OMIT;
        return ts;
    }
    const int64_t units = static_cast<int64_t>(ft - kUnixEpochAsFiletime);
    int64_t sec = units / 10000000, rem = units % 10000000;
    if (rem < 0) {
        rem += 10000000;
        --sec;
    }
    ts.tv_sec = static_cast<time_t>(sec);
    ts.tv_nsec = static_cast<long>(rem * 100);
    return ts;
}

// The one temporary file that an interrupt must not leave behind.
volatile sig_atomic_t haveTemp = 0;
char tempPath[4096];

// The terminal whose echo is off while a password is typed: an interrupt
// there must give the echo back, or the shell is left typing blind.
volatile sig_atomic_t quietTerminal = -1;
struct termios terminalBefore;

void OnSignal(int sig)
{
    if (quietTerminal >= 0) tcsetattr(quietTerminal, TCSAFLUSH, &terminalBefore);
    if (haveTemp) unlink(tempPath);
    (void)signal(sig, SIG_DFL);
    (void)raise(sig);
}

void WatchSignals()
{
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) (void)signal(sig, OnSignal);
}

int Fd(const PendingFile* f)
{
    return static_cast<int>(f->handle);
}

} // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

std::FILE* OpenForReading(const std::string& path)
{
    return std::fopen(path.c_str(), "rb");
}

bool OpenFileSize(std::FILE* f, uint64_t* size)
{
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool BuiltInStub(std::vector<uint8_t>*)
{
    return false; // the stub comes from beside the tool or from the build
}

bool StatFile(const std::string& path, FileMeta* meta, std::string* error)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + ": not a regular file";
        return false;
    }
    meta->lastWriteTime = ToFiletime(st.st_mtim);
    meta->lastAccessTime = ToFiletime(st.st_atim);
    meta->creationTime = meta->lastWriteTime;
#ifdef STATX_BTIME
    struct statx sx;
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME)) {
        struct timespec b;
        b.tv_sec = static_cast<time_t>(sx.stx_btime.tv_sec);
        b.tv_nsec = static_cast<long>(sx.stx_btime.tv_nsec);
        meta->creationTime = ToFiletime(b);
    }
#endif
    meta->attributes = kAttrArchive | ((st.st_mode & S_IWUSR) ? 0u : uint32_t{kAttrReadOnly});
    meta->size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat x, y;
    return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

std::string BaseName(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string DirName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string JoinPath(const std::string& dir, const std::string& name)
{
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string ExecutableDir()
{
    std::vector<char> buf(4096);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return ".";
    return DirName(std::string(buf.data(), static_cast<size_t>(n)));
}

bool PendingOpen(PendingFile* f, const std::string& target, bool executable, std::string* error)
{
    WatchSignals();
    f->target = target;
    // A short name of its own: the target's name may already be as long as
    // the file system allows.
    std::string pattern = JoinPath(DirName(target), ".lumisafe-XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    if (name.size() > sizeof tempPath) {
        *error = target + ": path too long";
        return false;
    }
    f->handle = mkstemp(name.data());
    if (f->handle < 0) {
        *error = DirName(target) + ": " + std::strerror(errno);
        return false;
    }
    f->temp = name.data();
    std::memcpy(tempPath, name.data(), name.size());
    haveTemp = 1;
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(Fd(f), (executable ? 0777 : 0666) & ~mask);
    return true;
}

bool PendingWrite(PendingFile* f, const void* data, size_t length, std::string* error)
{
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = write(Fd(f), p, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            *error = f->target + ": " + std::strerror(errno);
            return false;
        }
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool PendingCommit(PendingFile* f, const FileMeta* meta, bool overwrite, std::string* error)
{
    if (fsync(Fd(f)) != 0 && errno != EINVAL) {
        *error = f->target + ": " + std::strerror(errno);
        return false;
    }
    if (meta) {
        const struct timespec times[2] = {FromFiletime(meta->lastAccessTime),
                                          FromFiletime(meta->lastWriteTime)};
        futimens(Fd(f), times);
        if (meta->attributes & kAttrReadOnly) {
            struct stat st;
            if (fstat(Fd(f), &st) == 0) fchmod(Fd(f), st.st_mode & ~static_cast<mode_t>(0222));
        }
    }
    if (close(Fd(f)) != 0) {
        f->handle = -1;
        *error = f->target + ": " + std::strerror(errno);
        return false;
    }
    f->handle = -1;
    if (overwrite) {
        if (rename(f->temp.c_str(), f->target.c_str()) != 0) {
            *error = f->target + ": " + std::strerror(errno);
            return false;
        }
    } else {
        // link() refuses an existing target, so a file that appeared since
        // the check is never replaced. File systems without hard links fall
        // back to a checked rename.
        if (link(f->temp.c_str(), f->target.c_str()) == 0) {
            unlink(f->temp.c_str());
        } else if (errno == EEXIST) {
            *error = f->target + ": exists (use --force to overwrite)";
            return false;
        } else if (PathExists(f->target) || rename(f->temp.c_str(), f->target.c_str()) != 0) {
            *error = f->target + ": " + (PathExists(f->target) ? "exists (use --force to overwrite)" : std::strerror(errno));
            return false;
        }
    }
    haveTemp = 0;
    f->temp.clear();
    return true;
}

void PendingAbandon(PendingFile* f)
{
    if (f->handle >= 0) close(Fd(f));
    f->handle = -1;
    if (!f->temp.empty()) unlink(f->temp.c_str());
    f->temp.clear();
    haveTemp = 0;
}

int ReadSecret(const char* prompt, Secret* out)
{
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY);
    if (fd < 0) return kSecretNoTerminal;
    WatchSignals();
    struct termios old;
    const bool isTty = tcgetattr(fd, &old) == 0;
    if (isTty) {
        terminalBefore = old;
        quietTerminal = fd;
        struct termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    if (write(fd, prompt, std::strlen(prompt)) < 0) { /* prompt is a courtesy */ }
    SecretClear(out);
    // One byte at a time straight into the secret: no buffer of ours holds
    // the line, and what follows it stays unread.
    char c = 0;
    bool ok = false, fits = true;
    while (read(fd, &c, 1) == 1) {
        if (c == '\n') {
            ok = true;
            break;
        }
        fits = fits && SecretAppend(out, &c, 1);
    }
    c = 0;
    if (isTty) {
        tcsetattr(fd, TCSAFLUSH, &old);
        quietTerminal = -1;
    }
    if (write(fd, "\n", 1) < 0) { /* as above */ }
    close(fd);
    if (out->length > 0 && out->bytes[out->length - 1] == '\r') out->bytes[--out->length] = 0;
    if (!fits) {
        SecretClear(out);
        return kSecretTooLong;
    }
    return ok ? kSecretRead : kSecretEnd;
}

bool StderrIsTerminal()
{
    return isatty(2) != 0;
}

bool ConsoleClosesWithProgram()
{
    return false; // a terminal outlives the programs run in it
}

void ProtectProcessMemory()
{
    // No core file; on Linux also no ptrace and no /proc/PID/mem for other
    // processes of this user (the owner's root keeps both).
    const struct rlimit none = {0, 0};
    (void)setrlimit(RLIMIT_CORE, &none);
#ifdef __linux__
    (void)prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

uint32_t MachineSerial()
{
    std::string id;
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        if (std::FILE* f = std::fopen(path, "rb")) {
            char buf[128];
            const size_t n = std::fread(buf, 1, sizeof buf, f);
            (void)std::fclose(f); // opened for reading: nothing to lose
            id.assign(buf, n);
            if (!id.empty()) break;
        }
    }
    if (id.empty()) {
        char host[256] = {0};
        gethostname(host, sizeof host - 1);
        id = host;
    }
    return Crc32(0, reinterpret_cast<const uint8_t*>(id.data()), id.size());
}
