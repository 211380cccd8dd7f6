// The mail dialog as a mail's Edit runs it.
#pragma once

#include <cstdint>

#include "pal/com.h"

namespace kv::ui {

// Runs the dialog modally for the mail; the dialog's result (1: closed with
// Send), or -1 when it could not be shown. The rich-edit library must be loaded.
int ShowMailEditor(uintptr_t parent, IKvMail *mail, bool editable, uint32_t flags);

} // namespace kv::ui
