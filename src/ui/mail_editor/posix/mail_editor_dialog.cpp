#include "ui/mail_editor/mail_editor_dialog.h"

namespace kv::ui {

// No windows here: Edit never gets this far, as the rich-edit library is missing.
int ShowMailEditor(uintptr_t, IKvMail *, bool, uint32_t) { return -1; }

} // namespace kv::ui
