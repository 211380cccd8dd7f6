// What the printing of the mail dialog needs from its window.
#pragma once

#include <windows.h>

#include "ui/mail_editor/mail_editor_model.h"

namespace kv::ui {

class Host;

class clsMailEditorView {
  public:
    virtual HWND Window() const = 0;
    virtual const clsMailEditorModel &Model() const = 0;
    // The rich-edit control of a plain or RTF page; null otherwise.
    virtual HWND PageEdit(size_t page) const = 0;
    // The browser host of an HTML page; null without a browser.
    virtual Host *PageHost(size_t page) const = 0;
    // Shows a string table text in the status line; 0 clears it.
    virtual void SetStatus(int textId) = 0;
    // Brings an HTML page back to its own file.
    virtual void ShowPageFile(size_t page) = 0;
    // An HTML page's printout in a temporary file deleted when the dialog closes; "" when none.
    virtual String WritePrintout(size_t page) = 0;

  protected:
    ~clsMailEditorView() = default;
};

// The "Print" command: the printer job, then each HTML page's own printout.
void PrintMail(clsMailEditorView &view);

} // namespace kv::ui
