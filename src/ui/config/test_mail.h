// The test mail of the configuration dialog: the component driven through its
// public interfaces as any host would, its protocol collected by a log sink.
#pragma once

#include <functional>

#include "settings/option_list.h"
#include "pal/com.h"
#include "runtime/kvstring.h"
#include "orkv14.h"

namespace kv::ui {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID *);

struct TestMailRequest {
    const clsOptionList *global = nullptr;
    const clsOptionList *user = nullptr;
    String provider;
    // The library loaded by name when getClassObject is null; named in the error texts.
    String libraryName = "orkv14.dll";
    GetClassObjectFn getClassObject = nullptr;
    // Shows the mail for review; true when the user chose Send.
    std::function<bool(IKvMail *)> review;
};

struct TestMailResult {
    enum Outcome { Sent, Failed, NotSent } outcome = NotSent;
    // What the message box shows (nothing for NotSent).
    String message;
};

// The interface selector of a send connection for a provider code; null when unknown.
const IID *SendConnectionIid(const String &provider);

// Whatever the outcome, the process-wide log is left as it was found.
TestMailResult RunTestMail(const TestMailRequest &request);

} // namespace kv::ui
