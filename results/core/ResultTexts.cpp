#include "ResultTexts.h"

#include "CMultiLanguage.h"

namespace ResultTexts {

QString operationKey(int operation)
{
    switch (operation) {
    case OpModifyIP: return QStringLiteral(LANG_KEY("Modify IP"));
    case OpUpgrade: return QStringLiteral(LANG_KEY("Upgrade"));
    case OpInitialize: return QStringLiteral(LANG_KEY("Initialize"));
    case OpLogin: return QStringLiteral(LANG_KEY("Login"));
    case OpSysTimeSet: return QStringLiteral(LANG_KEY("SysTimeSet"));
    case OpDSTSet: return QStringLiteral(LANG_KEY("DSTSet"));
    case OpNTPSet: return QStringLiteral(LANG_KEY("NTPSet"));
    case OpReboot: return QStringLiteral(LANG_KEY("Reboot"));
    case OpEncode: return QStringLiteral(LANG_KEY("Encode"));
    case OpLightType: return QStringLiteral(LANG_KEY("LightType"));
    case OpReset:
    case OpResetWithNetwork: return QStringLiteral(LANG_KEY("Reset"));
    case OpChannelName: return QStringLiteral(LANG_KEY("ChannelName"));
    case OpOnvif: return QStringLiteral(LANG_KEY("Onvif"));
    case OpCamera: return QStringLiteral(LANG_KEY("Camera"));
    case OpImport: return QStringLiteral(LANG_KEY("IMPROT"));
    case OpExport: return QStringLiteral(LANG_KEY("EMPROT"));
    // These three are recorded by their pages but had no name; an installer
    // reading a notice needs to know which item it was about.
    case OpLanguageVideo: return QStringLiteral(LANG_KEY("LanguageVideoFormat"));
    case OpDhcp: return QStringLiteral(LANG_KEY("DHCP"));
    case OpAudio: return QStringLiteral(LANG_KEY("AudioSet"));
    case OpSetRecord: return QStringLiteral(LANG_KEY("Set record"));
    default: return QString();
    }
}

QString resultKey(int code, int operation)
{
    if (code == CodeNotSupported)
        return QStringLiteral(LANG_KEY("No Support"));
    if (code == CodeNeedReboot)
        return QStringLiteral(LANG_KEY("NeedReboot"));
    if (code == CodeTimeout) {
        // Restoring the network settings cuts the answer off: a timeout there
        // means the device took the change.
        return operation == OpResetWithNetwork ? QStringLiteral(LANG_KEY("HaveModify"))
                                               : QStringLiteral(LANG_KEY("Time out"));
    }
    if (code == CodeAddressInUse)
        return QStringLiteral(LANG_KEY("Address in use"));
    if (code == CodeNotHostAddress)
        return QStringLiteral(LANG_KEY("Not a host address"));
    if (code == CodeNotSent)
        return QStringLiteral(LANG_KEY("Not sent"));
    if (code == CodeFileNotWritten)
        return QStringLiteral(LANG_KEY("File not written"));
    if (code < CodeNotSupported)
        return QStringLiteral(LANG_KEY("fail"));
    if (code == CodeNotInitialised)
        return QStringLiteral(LANG_KEY("Please select an uninitialized device"));
    if (isSuccess(code))
        return QStringLiteral(LANG_KEY("successful"));
    return QStringLiteral(LANG_KEY("fail"));
}

QString operationName(int operation)
{
    const QString key = operationKey(operation);
    return key.isEmpty() ? QString() : CMultiLanguage::text(key);
}

QString resultText(int code, int operation)
{
    return CMultiLanguage::text(resultKey(code, operation));
}

} // namespace ResultTexts
