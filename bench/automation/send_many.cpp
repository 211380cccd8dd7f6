// The C++ sides of the automation benchmark: the same mails as send_many.vbs
// over one SMTP connection, through orkv14.dll's own interface (orkv14.h), or
// with --automation early bound through orkv14auto.dll's dual interfaces (what
// the layer costs without a script engine and IDispatch). Timed from the
// first CreateMail to the last Send; prints the seconds.
//   kv_bench_send_many [--automation] SERVER PORT COUNT
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "orkv14.hpp"
#include "orkv14auto.h"

using orkv14::Bstr;
using orkv14::Ptr;
using orkv14::Variant;

namespace {

double Seconds(const LARGE_INTEGER &from, const LARGE_INTEGER &to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

int ThroughAutomation(char **argv) {
    Ptr<IKvAutoConnection> smtp;
    if (FAILED(CoCreateInstance(CLSID_SMTP, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAutoConnection,
                                smtp.put_void()))) {
        std::fprintf(stderr, "Orkv14.SMTP is not registered\n");
        return 1;
    }
    Bstr server{std::string_view(argv[0])}, sender("bench@example.org"), recipient("sink@example.org"),
        type("text/plain"), text("A small mail.\r\n");
    smtp->put_ServerAddress(server.get());
    smtp->put_ServerPort(std::atol(argv[1]));
    if (FAILED(smtp->Connect())) {
        std::fprintf(stderr, "no connection\n");
        return 1;
    }
    LARGE_INTEGER started, ended;
    QueryPerformanceCounter(&started);
    for (long i = 1, n = std::atol(argv[2]); i <= n; ++i) {
        Ptr<IKvAutoMail> mail;
        Ptr<IKvAutoRecipients> to;
        Ptr<IKvAutoBody> body;
        Bstr subject("Mail " + std::to_string(i));
        smtp->CreateMail(65001, mail.put());
        mail->put_Sender(sender.get());
        mail->get_To(to.put());
        to->Add(recipient.get());
        mail->put_Subject(subject.get());
        mail->AddBody(type.get(), text.get(), body.put());
        if (FAILED(smtp->Send(mail.get()))) {
            std::fprintf(stderr, "mail %ld was not sent\n", i);
            return 1;
        }
    }
    QueryPerformanceCounter(&ended);
    std::printf("seconds %.4f\n", Seconds(started, ended));
    smtp->Disconnect();
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    bool automation = argc > 1 && std::strcmp(argv[1], "--automation") == 0;
    if (argc < 4 + automation) {
        std::fprintf(stderr, "usage: kv_bench_send_many [--automation] SERVER PORT COUNT\n");
        return 2;
    }
    CoInitialize(nullptr);
    if (automation) return ThroughAutomation(argv + 2);
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
    LARGE_INTEGER started, ended;
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
    std::printf("seconds %.4f\n", Seconds(started, ended));
    smtp->Disconnect();
    return 0;
}
