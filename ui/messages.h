// Every text the program shows, in English and in Japanese (Shift-JIS),
// chosen at each use by the OEM code page.
#ifndef LUMISAFE_UI_MESSAGES_H
#define LUMISAFE_UI_MESSAGES_H

enum MessageId {
    kMsgTakeOutFailed,
    kMsgTamperText,
    kMsgTamperTitle,
    kMsgNoFileSize,
    kMsgNoMemory,
    kMsgNoMemoryLock,
    kMsgCannotOpen,
    kMsgCannotRead,
    kMsgWrongPassword,
    kMsgCannotCreate,
    kMsgCannotWrite,
    kMsgDamaged,
    kMsgNewerVersion,
    kMsgNoCrypto,
    // Control texts and pieces of the encoder information.
    kTextPrompt,
    kTextSuicide,
    kTextSavePassword,
    kTextContinue,
    kTextSetName,
    kTextEnd,
    kTextEncodedBy,
    kTextThisComputer,
    kTextEncodedByEnd,
    kTextCreatedAt,
    kTextFirstTry,
    kTextNthTry, // holds one "%d"
    kMessageCount
};

// The catalogue itself: the texts in MessageId order, each ending in a NUL;
// the Japanese ones as code page 932 bytes.
extern const char kEnglishTexts[];
extern const char kJapaneseTexts[];

// Nonzero in Japanese mode: the OEM code page is 932. Asked afresh each time.
int IsJapaneseMode();

// The text in the language of the moment.
const char* Text(MessageId id);

// A message box with the stop icon and OK; caption may be null (system default).
void ShowError(void* owner, const char* caption, MessageId id);

#endif
