#include "runtime/string_table.h"

#include "pal/resources.h"
#include "pal/system.h"

namespace kv {

namespace {

struct Row {
    int id;
    const char *english;
    const char *german;
};

// 8-bit texts in the ANSI code page of this platform (UTF-8). The DLL's STRINGTABLE is
// generated from these rows (cmake/string_table.py).
const Row kStrings[] = {
    {IDS_REGISTRY_KEY_FAILED,
     "The registry key '%1' cannot be created. Make sure you have the permissions to create this key.",
     "Der Registrierungsschl\xC3\xBCssel '%1' kann nicht angelegt werden. Stellen Sie sicher, dass Sie die "
     "Berechtigung haben, diesen Schl\xC3\xBCssel anzulegen."},
    {IDS_LIMITED_FUNCTIONALITY, "\n\nFunctionality will be limited due to this error.",
     "\n\nDie Funktionalit\xC3\xA4t ist aufgrund dieses Fehlers eingeschr\xC3\xA4nkt."},
    {IDS_WARNING, "Warning", "Warnung"},
    {IDS_PROVIDER_SMAPI, "Simple MAPI", "Simple MAPI"},
    {IDS_PROVIDER_XMAPI, "Extended MAPI", "Extended MAPI"},
    {IDS_PROVIDER_SMTP, "SMTP", "SMTP"},
    {IDS_PROVIDER_SMAPI_DIALOG, "Simple MAPI (system dialog)", "Simple MAPI (Systemdialog)"},
    {IDS_PROVIDER_CODES, "SMAPI;XMAPI;SMTP", "SMAPI;XMAPI;SMTP"},
    {IDS_ATTACHMENT_LABELS, "Attachment:|Attachments:", "Anhang:|Anh\xC3\xA4nge:"},
    {IDS_SEE_SEPARATE_PRINTOUT, "(See separate printout)", "(Siehe separaten Ausdruck)"},
    {IDS_UNKNOWN_FORMAT, "(unknown format)", "(unbekanntes Format)"},
    {IDS_PLEASE_WAIT, "please wait", "bitte warten"},
    {IDS_PRINTING, "Printing...", "Drucken..."},
    {IDS_DATE_LABEL, "Date:", "Datum:"},
    {IDS_TESTMAIL_SENT, "The Testmail has been successfully sent.", "Die Testmail wurde erfolgreich versendet."},
    {IDS_TESTMAIL_SUBJECT, "Test-mail", "Test-Mail"},
    {IDS_TESTMAIL_TEXT, "This is a test mail that has been sent by the eMail module.",
     "Dies ist eine Testmail, die vom eMail-Modul versendet wurde."},
    {IDS_TESTMAIL_FAILED,
     "Sending the mail did fail.\n\nIf you are unsure, please show your administrator the following information:\n\n",
     "Das Senden der Mail ist fehlgeschlagen.\n\nWenn Sie unsicher sind, zeigen Sie bitte Ihrem Administrator die "
     "folgenden Informationen:\n\n"},
    {IDS_TLS_MODE_NONE, "None", "Keine"},
    {IDS_TLS_MODE_STARTTLS, "STARTTLS", "STARTTLS"},
    {IDS_TLS_MODE_IMPLICIT, "Implicit TLS (SMTPS/POP3S)", "Implizites TLS (SMTPS/POP3S)"},
    {IDS_TLS_MODE_AUTO, "STARTTLS when offered", "STARTTLS, wenn angeboten"},
};

} // namespace

String LoadResourceString(int id, bool german) {
    // The module's own string table where the platform has one (Windows).
    if (auto text = pal::LoadModuleString(id, german)) return *text;
    for (const Row &row : kStrings)
        if (row.id == id) return german ? row.german : row.english;
    return String();
}

String LoadResourceString(int id) { return LoadResourceString(id, pal::UiLanguageIsGerman()); }

} // namespace kv
