// clsConfigDialog: the configuration dialog's behaviour between a view and
// the model: OK, Cancel and the test mail. A Win32 view implements
// IConfigDialogView; the tests implement it too.
#pragma once

#include "ui/config/config_model.h"
#include "ui/config/test_mail.h"

namespace kv::ui {

class clsConfigDialog;

class IConfigDialogView {
  public:
    virtual ~IConfigDialogView() = default;
    // Runs the dialog modally over the dialog's model; true when it ended with OK
    // (the fields are then stored by the caller).
    virtual bool Run(clsConfigDialog &dialog) = 0;
    // The mail dialog for the test mail; true when the user chose Send.
    virtual bool ReviewMail(IKvMail *mail) = 0;
    // A message box with the given icon.
    virtual void ShowMessage(const String &text, uint32_t icon) = 0;
};

constexpr uint32_t kMessageIconWarning = 0x30;

struct ConfigDialogEnvironment {
    String libraryName = "orkv14.dll";
    GetClassObjectFn getClassObject = nullptr; // null: loaded from libraryName
    MailClientAccount account;
    WString computerName;
};

// Every profile name the component's profile enumerator gives; empty when any step fails.
std::vector<WString> ReadMapiProfiles(const String &libraryName, GetClassObjectFn getClassObject);

class clsConfigDialog {
  public:
    clsConfigDialog(uint32_t flags, const clsOptionList &global, const clsOptionList &user, IConfigDialogView &view,
                    ConfigDialogEnvironment environment);

    clsConfigModel &Model() { return model_; }
    const std::vector<ProviderEntry> &Providers() const { return providers_; }

    // "OK": every field into its option.
    void Ok() { model_.StoreFields(); }
    // "Send a &Testmail": reports through the view unless the user did not send.
    TestMailResult SendTestMail();

  private:
    IConfigDialogView &view_;
    ConfigDialogEnvironment environment_;
    clsConfigModel model_;
    std::vector<ProviderEntry> providers_;
};

// ConfigDlg's steps: the dialog edits copies; after OK they replace entries of
// the same key in the caller's lists (S_OK), after Cancel nothing changes (S_FALSE).
HRESULT RunConfigDialog(clsOptionList &global, clsOptionList &user, uint32_t flags, IConfigDialogView &view,
                        const ConfigDialogEnvironment &environment);

} // namespace kv::ui
