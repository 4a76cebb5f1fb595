// The three stages of the decoder stub, one per process of the chain.
#ifndef LUMISAFE_LAUNCHER_STAGES_H
#define LUMISAFE_LAUNCHER_STAGES_H

#include <cstdint>
#include <windows.h>

// A unique temporary name with a three-letter prefix and the extension
// ".exe", in a 260-byte buffer. Returns 0 when the system gives no name.
int MakeTempExeName(const char* prefix, char* path);

// Launch stage: copies the stub to a "DEC" temporary executable, checks the
// integrity sum and starts the copy as the decode stage. 1 on success.
int RunLaunchStage();

void RunDecodeStage(HINSTANCE instance);
void StartCleanupStage();
void RunCleanupStage(const char* handleText, const char* decodeCopyArgument);

// Removes the running executable's file, ownPath (a checked temporary copy),
// once the process has ended.
void SelfDelete(const char* ownPath);
void SelfDeleteByBatch(const char* ownPath);
void SelfDeleteInMemory();

// The in-memory routine's argument (Windows 95 family).
#pragma pack(push, 1)
struct SelfDeleteRecord {
    uint32_t module;
    uint32_t freeLibrary;
    uint32_t deleteFile;
    char modulePath[260];
    uint32_t exitProcess;
    uint32_t exitCode;
};
#pragma pack(pop)

enum : uint32_t { kUnmapAndDeleteSize = 48 };
// Position-independent x86 code: FreeLibrary(module), DeleteFileA(path),
// ExitProcess(exitCode), all through the record.
extern const uint8_t kUnmapAndDelete[kUnmapAndDeleteSize];

#endif
