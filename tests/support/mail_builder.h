// A mail of a provider's connection, filled as a host would: bodies from
// text, attachments from bytes or (without bytes) from the file they name.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "mail/mail.h"
#include "mail/mail_attachment.h"
#include "runtime/com_util.h"
#include "test_text.h"

namespace testsupport {

inline void AddBody(kv::clsMail &m, const char *type, const std::string &text) {
    IKvMailBody *body = nullptr;
    ASSERT_EQ(m.Bodies().CreateAndAdd(&body, kv::IString(type), 65001), S_OK);
    kv::clsAutoRelease<IStream> s(StreamOf(text));
    body->SetContents(s.get());
    body->Release();
}

inline void AddAttachment(kv::clsMail &m, const std::string &name, const std::string *bytes) {
    IKvMailAttachment *a = nullptr;
    ASSERT_EQ(m.Attachments().CreateAndAdd(&a), S_OK);
    auto *ours = static_cast<kv::clsMailAttachment *>(a);
    ours->SetNameText(name);
    if (bytes) {
        kv::clsAutoRelease<IStream> s(StreamOf(*bytes));
        ours->SetContentsStream(s.get());
    }
    a->Release();
}

} // namespace testsupport
