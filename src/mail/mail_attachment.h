// clsMailAttachment: one attachment of a mail or a body, its contents in
// memory or in the file that its name names.
#pragma once

#include "mail/header_item.h"
#include "pal/com.h"
#include "runtime/com_object.h"
#include "runtime/kvstring.h"

namespace kv {

class clsMailAttachment final : public clsComObject<kModuleCounted, IKvMailAttachment> {
  public:
    clsMailAttachment() = default;

    HRESULT STDMETHODCALLTYPE SetName(BSTR name) override;
    HRESULT STDMETHODCALLTYPE GetName(BSTR *name) override;
    HRESULT STDMETHODCALLTYPE SetContents(IStream *source) override;
    HRESULT STDMETHODCALLTYPE GetContents(IStream *destination) override;
    HRESULT STDMETHODCALLTYPE GetHeaderEntry(BSTR name, BSTR *value) override;
    HRESULT STDMETHODCALLTYPE GetHeaderEntry2(BSTR name, BSTR *value, IEnumString **parameters) override;

    // For the writer, the reader and the HTML scan.
    const String &Name() const { return name_; }
    void SetNameText(const String &name) { name_ = name; }
    // Null when the contents come from the file of that name.
    IStream *Contents() const { return contents_; }
    // Takes its own reference.
    void SetContentsStream(IStream *stream);
    const String &ContentId() const { return contentId_; }
    void SetContentId(const String &id) { contentId_ = id; }
    clsHeaderList &Headers() { return headers_; }
    bool HeadersReusable() const { return headersReusable_; }
    void SetHeadersReusable(bool reusable) { headersReusable_ = reusable; }

  private:
    ~clsMailAttachment();

    String name_;
    IStream *contents_ = nullptr;
    clsHeaderList headers_;
    bool headersReusable_ = true;
    String contentId_;
};

} // namespace kv
