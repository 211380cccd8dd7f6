// The automation objects over the core's mails, bodies and attachments, and
// their collections. Each is made here and handed out with one reference.
#pragma once

#include <string>
#include <vector>

#include "module.h"

namespace kvauto {

// A second owner of a pointer someone else holds.
template <class T> Ptr<T> Share(T *p) {
    if (p) p->AddRef();
    return Ptr<T>(p);
}

// `connection` (may be null) is where failures of the mail's calls are recorded.
HRESULT NewMail(Ptr<IKvMail2> mail, IKvMailConnection2 *connection, IKvAutoMail **out);
HRESULT NewMails(std::vector<Ptr<IKvMail2>> mails, IKvMailConnection2 *connection, IKvAutoMails **out);
HRESULT NewBody(Ptr<IKvMailBody> body, IKvAutoBody **out);
HRESULT NewAttachment(Ptr<IKvMailAttachment> attachment, IKvAutoAttachment **out);

enum class RecipientList { To, CC, BCC };
HRESULT NewRecipients(IKvMail2 *mail, RecipientList list, IKvAutoRecipients **out);
HRESULT NewBodies(IKvMail2 *mail, IKvMailConnection2 *connection, IKvAutoBodies **out);
// The attachments of a mail, or (mail null) the parts of a body.
HRESULT NewAttachments(IKvMail2 *mail, IKvMailBody *body, IKvMailConnection2 *connection,
                       IKvAutoAttachments **out);

// Adding to a mail (or, for attachments, to a body when `mail` is null); shared
// by the mail and its collections.
HRESULT AddBodyTo(IKvMail2 *mail, BSTR type, BSTR text, Ptr<IKvMailBody> &body, std::string &why);
HRESULT AddFileTo(IKvMail2 *mail, IKvMailBody *body, BSTR path, Ptr<IKvMailAttachment> &attachment,
                  std::string &why);
HRESULT AddDataTo(IKvMail2 *mail, IKvMailBody *body, BSTR name, const VARIANT &data,
                  Ptr<IKvMailAttachment> &attachment, std::string &why);

// The core's mail behind a Mail object of this DLL; null for any other object.
Ptr<IKvMail> CoreMailOf(IUnknown *object);

} // namespace kvauto
