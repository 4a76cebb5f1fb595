// The packer window's own texts in English and Japanese. The language is
// chosen as the decoder chooses its own: Japanese when the OEM code page is
// 932, so a user sees the same language in both programs.
#ifndef LUMISAFE_PACKER_PACKER_TEXTS_H
#define LUMISAFE_PACKER_PACKER_TEXTS_H

enum PackerText {
    kTextChooseFile,
    kTextNotAFile,
    kTextTypePassword,
    kTextPasswordsDiffer,
    kTextChooseOutput,
    kTextReplace,
    kTextWarnings,
    kTextReading,
    kTextCompressing,
    kTextStoring,
    kTextWriting,
    kTextDone,
    kTextFailed,
    kTextCancelled,
    kTextCancel,
    kTextClose,
    kTextNeverDelete,
    kTextDeleteOn,
    kTextDeleteAlways,
    kTextAllFiles,
    kTextPrograms,
    kTextOpenTitle,
    kTextSaveTitle,
    kTextCount
};

int PackerIsJapanese();
const wchar_t* PackerTextOf(int id);

#endif
