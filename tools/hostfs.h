// What the tool needs from the host system: file metadata in Windows terms,
// outputs that appear whole or not at all, the terminal, the machine's serial.
#ifndef LUMISAFE_TOOLS_HOSTFS_H
#define LUMISAFE_TOOLS_HOSTFS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "secret.h"

struct FileMeta {
    uint64_t creationTime;   // FILETIME
    uint64_t lastAccessTime; // FILETIME
    uint64_t lastWriteTime;  // FILETIME
    uint32_t attributes;     // FILE_ATTRIBUTE_* bits
    uint64_t size;
};

enum : uint32_t { kAttrReadOnly = 0x01, kAttrArchive = 0x20 };

// The program's arguments in UTF-8, the first being the program. Also makes
// the process safe to start: on Windows, DLLs come from the system directory
// only and the console shows UTF-8 until the program ends.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Opens a file for reading by its UTF-8 name; errno says why not.
std::FILE* OpenForReading(const std::string& path);

// The size of an open file, whatever its size (a 32-bit long cannot hold
// it); false for what has no size to tell (a pipe or a device reads 0).
bool OpenFileSize(std::FILE* f, uint64_t* size);

// The decoder stub built into the program, if it carries one.
bool BuiltInStub(std::vector<uint8_t>* stub);

bool StatFile(const std::string& path, FileMeta* meta, std::string* error);
bool IsDirectory(const std::string& path);
bool PathExists(const std::string& path);
// True when both paths exist and name one file (same device and inode),
// however they are spelled.
bool SameFile(const std::string& a, const std::string& b);
std::string BaseName(const std::string& path);
std::string DirName(const std::string& path);
std::string JoinPath(const std::string& dir, const std::string& name);
std::string ExecutableDir();

// A temporary file beside `target`, renamed onto it by Commit. Anything not
// committed is removed, also when the process is interrupted.
struct PendingFile {
    std::string target;
    std::string temp;
    intptr_t handle = -1; // the host's file descriptor or handle
};
bool PendingOpen(PendingFile* f, const std::string& target, bool executable, std::string* error);
bool PendingWrite(PendingFile* f, const void* data, size_t length, std::string* error);
// Sets the times (0 leaves a time as it is) and, when readOnly, drops the
// write permission, then moves the file into place; without overwrite an
// existing target is never replaced.
bool PendingCommit(PendingFile* f, const FileMeta* meta, bool overwrite, std::string* error);
void PendingAbandon(PendingFile* f);

// Reads a line from the terminal without echo, as UTF-8, into out:
// kSecretRead, kSecretNoTerminal, kSecretEnd when the input ended before a
// line did (Ctrl-D), or kSecretTooLong when the line does not fit.
enum SecretResult { kSecretRead, kSecretNoTerminal, kSecretEnd, kSecretTooLong };
int ReadSecret(const char* prompt, Secret* out);
bool StderrIsTerminal();
// True when the program's console window closes as the program ends: a
// console program started from Explorer, whose messages would flash past.
bool ConsoleClosesWithProgram();

// The number the decoder compares with the encoder serial: the volume serial
// of the Windows drive, or elsewhere a stable 32-bit number for this machine.
uint32_t MachineSerial();

#endif
