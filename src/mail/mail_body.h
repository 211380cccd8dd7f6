// clsMailBody: one rendering of a mail's text (plain, HTML, RTF or any other
// media type) with its own charset and its related and other attachments.
#pragma once

#include "mail/attachment_list.h"
#include "mail/header_item.h"
#include "pal/com.h"
#include "runtime/com_object.h"
#include "runtime/kvstring.h"

namespace kv {

class clsMailBody final : public clsComObject<kModuleCounted, IKvMailBody> {
  public:
    // Null when the contents stream cannot be made.
    static clsMailBody *Create(const IString &mediaType, uint32_t codepage);

    HRESULT STDMETHODCALLTYPE GetType(BSTR *mediaType) override;
    HRESULT STDMETHODCALLTYPE SetContents(IStream *source) override;
    HRESULT STDMETHODCALLTYPE GetContents(IStream *destination) override;
    HRESULT STDMETHODCALLTYPE GetCharset(BSTR *charset, ULONG *codepage, ULONG *gdiCharset) override;
    HRESULT STDMETHODCALLTYPE GetHeaderEntry(BSTR name, BSTR *value) override;
    HRESULT STDMETHODCALLTYPE CreateAndAddAttachment(IKvMailAttachment **attachment) override;
    HRESULT STDMETHODCALLTYPE EnumAttachments(IKvEnumMailAttachment **attachments) override;
    HRESULT STDMETHODCALLTYPE GetHeaderEntry2(BSTR name, BSTR *value, IEnumString **parameters) override;
    HRESULT STDMETHODCALLTYPE GetCodepage(ULONG *codepage) override;

    // For the writer, the reader and the HTML scan.
    const IString &MediaType() const { return mediaType_; }
    IStream *Contents() const { return contents_; }
    const String &Charset() const { return charset_; }
    void SetCharset(const String &charset) { charset_ = charset; }
    // The code page of the charset (an unknown or empty name: ANSI).
    uint32_t CodePage() const;
    clsMailAttachmentList &Attachments() { return attachments_; }
    const clsMailAttachmentList &Attachments() const { return attachments_; }
    bool HasRelatedAttachments() const;
    clsHeaderList &Headers() { return headers_; }
    bool HeadersReusable() const { return headersReusable_; }
    void SetHeadersReusable(bool reusable) { headersReusable_ = reusable; }
    const String &RelatedBoundary() const { return relatedBoundary_; }
    void SetRelatedBoundary(const String &boundary) { relatedBoundary_ = boundary; }

  private:
    clsMailBody(const IString &mediaType, IStream *contents, const String &charset);
    ~clsMailBody();

    IString mediaType_;
    IStream *contents_;
    String charset_;
    clsMailAttachmentList attachments_;
    clsHeaderList headers_;
    bool headersReusable_ = true;
    String relatedBoundary_;
};

} // namespace kv
