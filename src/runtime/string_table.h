// The component's string table, in English and German.
#pragma once

#include "runtime/kvstring.h"

namespace kv {

enum ResourceId : int {
    IDS_REGISTRY_KEY_FAILED = 1,
    IDS_LIMITED_FUNCTIONALITY = 2,
    IDS_WARNING = 3,
    // Provider names shown for provider code i of IDS_PROVIDER_CODES: IDS_PROVIDER_NAME_FIRST + i.
    IDS_PROVIDER_NAME_FIRST = 10,
    IDS_PROVIDER_SMAPI = 10,
    IDS_PROVIDER_XMAPI = 11,
    IDS_PROVIDER_SMTP = 12,
    IDS_PROVIDER_SMAPI_DIALOG = 13,
    IDS_PROVIDER_CODES = 19,
    IDS_ATTACHMENT_LABELS = 30,
    IDS_SEE_SEPARATE_PRINTOUT = 31,
    IDS_UNKNOWN_FORMAT = 32,
    IDS_PLEASE_WAIT = 33,
    IDS_PRINTING = 34,
    IDS_DATE_LABEL = 36,
    IDS_TESTMAIL_SENT = 40,
    IDS_TESTMAIL_SUBJECT = 41,
    IDS_TESTMAIL_TEXT = 42,
    IDS_TESTMAIL_FAILED = 43,
    // The configuration dialog's encryption list, in the order of the "TLSMode" values.
    IDS_TLS_MODE_FIRST = 50,
    IDS_TLS_MODE_NONE = 50,
    IDS_TLS_MODE_STARTTLS = 51,
    IDS_TLS_MODE_IMPLICIT = 52,
    IDS_TLS_MODE_AUTO = 53,
};

// The text in the user interface language (German or English); "" for an unknown id.
String LoadResourceString(int id);
String LoadResourceString(int id, bool german);

} // namespace kv
