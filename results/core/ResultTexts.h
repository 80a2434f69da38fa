#pragma once
// The two vocabularies behind every per-device outcome: operation ids and
// result codes. Callers keep the codes; this only turns them into language
// keys, which CMultiLanguage translates.

#include <QString>

namespace ResultTexts {

// Operation ids recorded with each result.
enum Operation : int {
    OpModifyIP = 0,
    OpUpgrade = 1,
    OpInitialize = 2,
    OpLogin = 10,
    OpSysTimeSet = 11,
    OpDSTSet = 12,
    OpNTPSet = 13,
    OpReboot = 14,
    OpEncode = 15,
    OpLightType = 17,
    OpReset = 18,
    OpChannelName = 19,
    OpOnvif = 20,
    OpCamera = 21,
    OpImport = 22,
    OpExport = 23,
    OpResetWithNetwork = 24,
    OpLanguageVideo = 25,
    OpDhcp = 26,
    OpAudio = 27,
    // A whole configuration record written by command number (scoutrix-cli set).
    OpSetRecord = 90,
};

// Result codes with a text of their own.
enum Code : int {
    CodeNotSupported = -3,
    CodeNotInitialised = -2,
    CodeFailed = -1,
    CodeTimeout = -10005,
    CodeNeedReboot = -11401,
    // The program's own: a change it did not send because the new address
    // was taken, or is no host address of the segment.
    CodeAddressInUse = -30001,
    CodeNotHostAddress = -30002,
    // A batch item that asks first was sent to no device, because another
    // checked device could not log in.
    CodeNotSent = -30003,
    // A configuration export the device answered, but whose file could not
    // be written.
    CodeFileNotWritten = -30004,
};

// Language key of an operation's name; empty for ids without a name.
QString operationKey(int operation);

// Language key of the text for a result code of an operation.
QString resultKey(int code, int operation);

// Whether a stored code reads as success.
inline bool isSuccess(int code) { return code == 0 || code == 1; }

// The translated texts.
QString operationName(int operation);
QString resultText(int code, int operation);

} // namespace ResultTexts
