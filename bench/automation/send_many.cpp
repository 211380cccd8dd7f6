// The C++ side of the automation benchmark: the same mails as send_many.vbs
// over one SMTP connection, through orkv14.dll's own interface (orkv14.h),
// timed from the first CreateMail to the last Send. Prints the seconds.
//   kv_bench_send_many SERVER PORT COUNT
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "orkv14.hpp"

using orkv14::Bstr;
using orkv14::Ptr;
using orkv14::Variant;

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: kv_bench_send_many SERVER PORT COUNT\n");
        return 2;
    }
    CoInitialize(nullptr);
    HMODULE core = LoadLibraryW(L"orkv14.dll");
    auto get = core ? reinterpret_cast<PFN_DllGetClassObject>(
                          reinterpret_cast<void *>(GetProcAddress(core, "DllGetClassObject")))
                    : nullptr;
    Ptr<IClassFactory> factory;
    Ptr<IKvMailConnection2> smtp;
    if (!get || FAILED(get(CLSID_KvComponent, IID_IClassFactory, factory.put_void())) ||
        FAILED(factory->CreateInstance(nullptr, IID_IKvSMTPSendConnection, smtp.put_void()))) {
        std::fprintf(stderr, "orkv14.dll gives no SMTP connection\n");
        return 1;
    }
    Variant server{std::string_view(argv[1])}, port{LONG(std::atol(argv[2]))};
    smtp->SetOption(L"ServerAddress", server.get());
    smtp->SetOption(L"ServerPort", port.get());
    if (FAILED(smtp->Connect())) {
        std::fprintf(stderr, "no connection\n");
        return 1;
    }
    Bstr sender("bench@example.org"), recipient("sink@example.org"), type("text/plain");
    const std::string text = "A small mail.\r\n";
    LARGE_INTEGER frequency, started, ended;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    for (long i = 1, n = std::atol(argv[3]); i <= n; ++i) {
        Ptr<IKvMail> mail;
        Ptr<IKvMail2> mail2;
        Ptr<IKvMailBody> body;
        Ptr<IStream> contents;
        Bstr subject("Mail " + std::to_string(i));
        smtp->CreateMail(65001, L"", mail.put());
        mail->QueryInterface(IID_IKvMail2, mail2.put_void());
        mail2->SetSender(sender.get());
        mail2->AddRecipients(recipient.get());
        mail2->SetSubject(subject.get());
        mail2->CreateAndAddBody(body.put(), type.get(), 65001);
        CreateStreamOnHGlobal(nullptr, TRUE, contents.put());
        contents->Write(text.data(), ULONG(text.size()), nullptr);
        body->SetContents(contents.get());
        if (FAILED(smtp->Send(mail.get()))) {
            std::fprintf(stderr, "mail %ld was not sent\n", i);
            return 1;
        }
    }
    QueryPerformanceCounter(&ended);
    std::printf("seconds %.4f\n", double(ended.QuadPart - started.QuadPart) / double(frequency.QuadPart));
    smtp->Disconnect();
    return 0;
}
