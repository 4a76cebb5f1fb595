#include "packer_texts.h"

#include <windows.h>

namespace {

const wchar_t* const kEnglish[kTextCount] = {
    L"Choose the file to pack: Browse, or drop it on this window.",
    L"This is not a file that can be packed (a folder?).",
    L"Type the password twice.",
    L"The two passwords are not the same. Type them again.",
    L"Choose where to save the self-decoding file.",
    L"%s already exists.\nReplace it?",
    L"%s\n\nPack all the same?",
    L"Reading...",
    L"Compressing...",
    L"Copying...",
    L"Encrypting and writing...",
    L"Done: %s (%s bytes).",
    L"The file could not be packed.\n\n%s",
    L"Cancelled. No file was written.",
    L"Cancel",
    L"Close",
    L"Not unless the user ticks the box",
    L"Yes, unless the user unticks the box",
    L"Always",
    L"All files (*.*)",
    L"Self-decoding files (*.exe)",
    L"Choose the file to pack",
    L"Save the self-decoding file as",
};

const wchar_t* const kJapanese[kTextCount] = {
    L"暗号化するファイルを選んでください (参照、またはこのウィンドウにドロップ)。",
    L"暗号化できるファイルではありません (フォルダですか?)。",
    L"パスワードを 2 回入力してください。",
    L"2 つのパスワードが一致しません。もう一度入力してください。",
    L"自己復号ファイルの保存先を選んでください。",
    L"%s は既にあります。\n置き換えますか?",
    L"%s\n\nこのまま作成しますか?",
    L"読み込み中...",
    L"圧縮中...",
    L"コピー中...",
    L"暗号化して書き込み中...",
    L"完了: %s (%s バイト)",
    L"ファイルを作成できませんでした。\n\n%s",
    L"中止しました。ファイルは作成されていません。",
    L"中止",
    L"閉じる",
    L"利用者がチェックしたときだけ",
    L"する (利用者がチェックを外せる)",
    L"必ず削除する",
    L"すべてのファイル (*.*)",
    L"自己復号ファイル (*.exe)",
    L"暗号化するファイルの選択",
    L"自己復号ファイルの保存先",
};

} // namespace

int PackerIsJapanese()
{
    return GetOEMCP() == 932;
}

const wchar_t* PackerTextOf(int id)
{
    if (id < 0 || id >= kTextCount) return L"";
    return (PackerIsJapanese() ? kJapanese : kEnglish)[id];
}
