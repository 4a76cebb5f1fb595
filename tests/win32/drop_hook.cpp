// A message hook that wdrive places in another program's thread to drop a
// file on its window as the shell does: the drop block must be made in the
// window's own process, and a hook procedure runs there.
#include <windows.h>
#include <shlobj.h>

#include <cstring>

extern "C" __declspec(dllexport) LRESULT CALLBACK DropHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    MSG* m = reinterpret_cast<MSG*>(lParam);
    const UINT dropMessage = RegisterWindowMessageA("lumisafe-test-drop");
    if (code == HC_ACTION && wParam == PM_REMOVE && m->message == dropMessage) {
        // The name travels as a global atom (at most 255 characters).
        char path[MAX_PATH] = {0};
        const UINT n = GlobalGetAtomNameA(static_cast<ATOM>(m->lParam), path, MAX_PATH);
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + n + 2);
        if (n && block) {
            DROPFILES* drop = static_cast<DROPFILES*>(GlobalLock(block));
            drop->pFiles = sizeof(DROPFILES);
            drop->fWide = FALSE;
            std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), path, n);
            GlobalUnlock(block);
            PostMessageA(m->hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
        }
        // wdrive waits for this before it takes the hook away.
        HANDLE done = OpenEventA(EVENT_MODIFY_STATE, FALSE, "lumisafe-test-drop-done");
        if (done) {
            SetEvent(done);
            CloseHandle(done);
        }
        m->message = WM_NULL;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
