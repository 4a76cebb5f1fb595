// Decode stage: the password dialog's message loop, then the hand-over to
// the cleanup stage.
#include <windows.h>

#include "password_dialog.h"
#include "resource_ids.h"
#include "stages.h"
#include "strbuf.h"
#include "stub_state.h"

void RunDecodeStage(HINSTANCE instance)
{
    // The argument is ":::" + the self-decoding file's path.
    lstrcpynA(selfDecodingPath, __argv[1] + 3, kPathSize);
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PASSWORD), GetDesktopWindow(),
                                     PasswordDialogProc, 0);
    if (dialog) {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (IsDialogMessageA(dialog, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DestroyWindow(dialog);
    }
    StartCleanupStage();
}
