// The collections: Count, a default Item and _NewEnum (For Each). Recipients,
// bodies and attachments are read from the mail at each call, so they always
// show its present state; Mails is the list that QueryMailbox made.
#include "enumerator.h"
#include "object.h"
#include "objects.h"
#include "values.h"

namespace kvauto {
namespace {

const char kNoIndex[] = "The index must be a number from 1 to Count";

class RecipientsObject : public Dispatch<IKvAutoRecipients> {
  public:
    RecipientsObject(IKvMail2 *mail, RecipientList list)
        : Dispatch("Orkv14.Recipients"), mail_(Share(mail)), list_(list) {}

    STDMETHODIMP get_Item(VARIANT index, BSTR *out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] {
            std::vector<std::wstring> all;
            size_t at = 0;
            std::string why;
            HRESULT hr = Addresses(all);
            if (SUCCEEDED(hr) && FAILED(hr = IndexArg(index, all.size(), &at, why))) return Fail(hr, why);
            if (SUCCEEDED(hr)) *out = SysAllocStringLen(all[at].data(), UINT(all[at].size()));
            return hr;
        });
    }
    STDMETHODIMP get_Count(long *out) override {
        if (!out) return E_POINTER;
        *out = 0;
        return Guarded([&] {
            std::vector<std::wstring> all;
            HRESULT hr = Addresses(all);
            *out = long(all.size());
            return hr;
        });
    }
    STDMETHODIMP get__NewEnum(IUnknown **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] {
            std::vector<std::wstring> all;
            HRESULT hr = Addresses(all);
            if (FAILED(hr)) return hr;
            std::vector<VARIANT> items;
            items.reserve(all.size());
            for (const std::wstring &a : all) {
                VARIANT v;
                v.vt = VT_BSTR;
                v.bstrVal = SysAllocStringLen(a.data(), UINT(a.size()));
                items.push_back(v);
            }
            *out = new VariantEnumerator(std::move(items));
            return S_OK;
        });
    }
    STDMETHODIMP Add(BSTR address) override {
        if (SysStringLen(address) == 0) return Fail(E_INVALIDARG, "No address was given");
        HRESULT hr = AddList(address);
        return FAILED(hr) ? Fail(hr, Quoted(address) + " is not a valid e-mail address") : S_OK;
    }
    STDMETHODIMP Remove(VARIANT index) override {
        return Guarded([&] {
            std::vector<std::wstring> all;
            size_t at = 0;
            std::string why;
            HRESULT hr = Addresses(all);
            if (SUCCEEDED(hr) && FAILED(hr = IndexArg(index, all.size(), &at, why))) return Fail(hr, why);
            if (FAILED(hr)) return hr;
            // The core only appends: the list is emptied and the others added again.
            all.erase(all.begin() + std::ptrdiff_t(at));
            std::wstring rest;
            for (const std::wstring &a : all) rest += (rest.empty() ? L"" : L"\t") + a;
            hr = AddList(nullptr);
            if (SUCCEEDED(hr) && !rest.empty()) {
                Bstr text;
                *text.put() = SysAllocStringLen(rest.data(), UINT(rest.size()));
                hr = AddList(text.get());
            }
            return FAILED(hr) ? Fail(hr, "The list cannot be changed: " + SystemText(hr)) : S_OK;
        });
    }
    STDMETHODIMP Clear() override {
        HRESULT hr = AddList(nullptr);
        return FAILED(hr) ? Fail(hr, "The list cannot be emptied: " + SystemText(hr)) : S_OK;
    }

  private:
    HRESULT Addresses(std::vector<std::wstring> &all) {
        Ptr<IEnumString> strings;
        HRESULT hr = list_ == RecipientList::To   ? mail_->EnumRecipients(strings.put())
                     : list_ == RecipientList::CC ? mail_->EnumCCRecipients(strings.put())
                                                  : mail_->EnumBCCRecipients(strings.put());
        if (FAILED(hr) || !strings) return Fail(FAILED(hr) ? hr : E_UNEXPECTED, "The list cannot be read");
        LPOLESTR item = nullptr;
        ULONG fetched = 0;
        while (strings->Next(1, &item, &fetched) == S_OK && fetched == 1) {
            try {
                all.emplace_back(item);
            } catch (...) {
                CoTaskMemFree(item);
                throw;
            }
            CoTaskMemFree(item);
        }
        return S_OK;
    }
    // An empty text empties the list.
    HRESULT AddList(BSTR text) {
        Bstr empty(std::string_view(""));
        if (!text) text = empty.get();
        return list_ == RecipientList::To   ? mail_->AddRecipients(text)
               : list_ == RecipientList::CC ? mail_->AddCCRecipients(text)
                                            : mail_->AddBCCRecipients(text);
    }

    Ptr<IKvMail2> mail_;
    RecipientList list_;
};

// Reads all elements of one of the core's enumerators.
template <class IEnum, class I> void ReadAll(IEnum *e, std::vector<Ptr<I>> &all) {
    for (;;) {
        I *item = nullptr;
        ULONG fetched = 0;
        if (e->Next(1, &item, &fetched) != S_OK || fetched != 1 || !item) break;
        Ptr<I> owned(item);
        all.push_back(std::move(owned));
    }
}

// Shared by the three collections of objects: Item and _NewEnum over a list of core objects.
template <class I, class Core, class Derived> class ObjectCollection : public Dispatch<I> {
  protected:
    using Dispatch<I>::Dispatch;
    using Dispatch<I>::Fail;
    using Dispatch<I>::Guarded;

    template <class Auto> HRESULT ItemOf(VARIANT index, Auto **out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] {
            std::vector<Ptr<Core>> all;
            size_t at = 0;
            std::string why;
            HRESULT hr = static_cast<Derived *>(this)->Items(all);
            if (SUCCEEDED(hr) && FAILED(hr = IndexArg(index, all.size(), &at, why))) return Fail(hr, why);
            return FAILED(hr) ? hr : static_cast<Derived *>(this)->Wrap(std::move(all[at]), out);
        });
    }
    HRESULT CountOf(long *out) {
        if (!out) return E_POINTER;
        *out = 0;
        return Guarded([&] {
            std::vector<Ptr<Core>> all;
            HRESULT hr = static_cast<Derived *>(this)->Items(all);
            *out = long(all.size());
            return hr;
        });
    }
    template <class Auto> HRESULT EnumOf(IUnknown **out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] {
            std::vector<Ptr<Core>> all;
            HRESULT hr = static_cast<Derived *>(this)->Items(all);
            if (FAILED(hr)) return hr;
            std::vector<Ptr<Auto>> objects;
            for (Ptr<Core> &c : all) {
                objects.emplace_back();
                static_cast<Derived *>(this)->Wrap(std::move(c), objects.back().put());
            }
            return NewEnumOf(objects, out);
        });
    }
};

class BodiesObject : public ObjectCollection<IKvAutoBodies, IKvMailBody, BodiesObject> {
  public:
    BodiesObject(IKvMail2 *mail, IKvMailConnection2 *connection)
        : ObjectCollection("Orkv14.Bodies"), mail_(Share(mail)), connection_(Share(connection)) {}

    STDMETHODIMP get_Item(VARIANT index, IKvAutoBody **out) override { return ItemOf(index, out); }
    STDMETHODIMP get_Count(long *out) override { return CountOf(out); }
    STDMETHODIMP get__NewEnum(IUnknown **out) override { return EnumOf<IKvAutoBody>(out); }
    STDMETHODIMP Add(BSTR type, BSTR text, IKvAutoBody **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] {
            Ptr<IKvMailBody> body;
            std::string why;
            HRESULT hr = AddBodyTo(mail_.get(), type, text, body, why);
            return FAILED(hr) ? Fail(hr, why) : NewBody(std::move(body), out);
        });
    }

    HRESULT Items(std::vector<Ptr<IKvMailBody>> &all) {
        Ptr<IKvEnumMailBody> e;
        // A listed mail is fetched whole here; a deleted one has none.
        HRESULT hr = mail_->EnumBodies(e.put());
        if (FAILED(hr)) return FailCall(hr, connection_.get(), "Loading the mail");
        if (e) ReadAll(e.get(), all);
        return S_OK;
    }
    HRESULT Wrap(Ptr<IKvMailBody> body, IKvAutoBody **out) { return NewBody(std::move(body), out); }

  private:
    Ptr<IKvMail2> mail_;
    Ptr<IKvMailConnection2> connection_;
};

class AttachmentsObject : public ObjectCollection<IKvAutoAttachments, IKvMailAttachment, AttachmentsObject> {
  public:
    AttachmentsObject(IKvMail2 *mail, IKvMailBody *body, IKvMailConnection2 *connection)
        : ObjectCollection("Orkv14.Attachments"), mail_(Share(mail)), body_(Share(body)),
          connection_(Share(connection)) {}

    STDMETHODIMP get_Item(VARIANT index, IKvAutoAttachment **out) override { return ItemOf(index, out); }
    STDMETHODIMP get_Count(long *out) override { return CountOf(out); }
    STDMETHODIMP get__NewEnum(IUnknown **out) override { return EnumOf<IKvAutoAttachment>(out); }
    STDMETHODIMP Add(BSTR path, IKvAutoAttachment **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] {
            Ptr<IKvMailAttachment> attachment;
            std::string why;
            HRESULT hr = AddFileTo(mail_.get(), body_.get(), path, attachment, why);
            return FAILED(hr) ? Fail(hr, why) : NewAttachment(std::move(attachment), out);
        });
    }
    STDMETHODIMP AddData(BSTR name, VARIANT data, IKvAutoAttachment **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] {
            Ptr<IKvMailAttachment> attachment;
            std::string why;
            HRESULT hr = AddDataTo(mail_.get(), body_.get(), name, data, attachment, why);
            return FAILED(hr) ? Fail(hr, why) : NewAttachment(std::move(attachment), out);
        });
    }

    HRESULT Items(std::vector<Ptr<IKvMailAttachment>> &all) {
        Ptr<IKvEnumMailAttachment> e;
        HRESULT hr = mail_ ? mail_->EnumAttachments(e.put()) : body_->EnumAttachments(e.put());
        if (FAILED(hr)) return FailCall(hr, connection_.get(), "Loading the mail");
        if (e) ReadAll(e.get(), all);
        return S_OK;
    }
    HRESULT Wrap(Ptr<IKvMailAttachment> attachment, IKvAutoAttachment **out) {
        return NewAttachment(std::move(attachment), out);
    }

  private:
    Ptr<IKvMail2> mail_;
    Ptr<IKvMailBody> body_;
    Ptr<IKvMailConnection2> connection_;
};

class MailsObject : public ObjectCollection<IKvAutoMails, IKvMail2, MailsObject> {
  public:
    MailsObject(std::vector<Ptr<IKvMail2>> mails, IKvMailConnection2 *connection)
        : ObjectCollection("Orkv14.Mails"), mails_(std::move(mails)), connection_(Share(connection)) {}

    // A number is a position; a text is a mail's cookie.
    STDMETHODIMP get_Item(VARIANT index, IKvAutoMail **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        Variant key;
        if (SUCCEEDED(ByValue(index, key.get())) && (*key).vt == VT_BSTR) {
            for (Ptr<IKvMail2> &m : mails_) {
                Bstr cookie;
                if (SUCCEEDED(m->GetCookie(cookie.put())) && cookie.size() == SysStringLen((*key).bstrVal) &&
                    std::wstring_view(cookie.get(), cookie.size()) ==
                        std::wstring_view((*key).bstrVal, SysStringLen((*key).bstrVal)))
                    return Guarded([&] { return NewMail(Share(m.get()), connection_.get(), out); });
            }
            return Fail(DISP_E_BADINDEX, "No mail of the list has the cookie " + Quoted((*key).bstrVal));
        }
        return ItemOf(index, out);
    }
    STDMETHODIMP get_Count(long *out) override { return CountOf(out); }
    STDMETHODIMP get__NewEnum(IUnknown **out) override { return EnumOf<IKvAutoMail>(out); }

    HRESULT Items(std::vector<Ptr<IKvMail2>> &all) {
        for (Ptr<IKvMail2> &m : mails_) all.push_back(Share(m.get()));
        return S_OK;
    }
    HRESULT Wrap(Ptr<IKvMail2> mail, IKvAutoMail **out) { return NewMail(std::move(mail), connection_.get(), out); }

  private:
    std::vector<Ptr<IKvMail2>> mails_;
    Ptr<IKvMailConnection2> connection_;
};

} // namespace

HRESULT NewRecipients(IKvMail2 *mail, RecipientList list, IKvAutoRecipients **out) {
    *out = new RecipientsObject(mail, list);
    return S_OK;
}

HRESULT NewBodies(IKvMail2 *mail, IKvMailConnection2 *connection, IKvAutoBodies **out) {
    *out = new BodiesObject(mail, connection);
    return S_OK;
}

HRESULT NewAttachments(IKvMail2 *mail, IKvMailBody *body, IKvMailConnection2 *connection,
                       IKvAutoAttachments **out) {
    *out = new AttachmentsObject(mail, body, connection);
    return S_OK;
}

HRESULT NewMails(std::vector<Ptr<IKvMail2>> mails, IKvMailConnection2 *connection, IKvAutoMails **out) {
    *out = new MailsObject(std::move(mails), connection);
    return S_OK;
}

} // namespace kvauto
