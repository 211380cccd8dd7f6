// The Win32 view of the configuration dialog: the dialog templates
// of config_dialog.rc, a tab control of the common controls standing in for
// the card framework, one child dialog per page. Built for Windows only.
#pragma once

#include <cstdint>

#include "pal/com.h"

namespace kv::ui::win32 {

// The review of the test mail: IKvMail::Edit in its editable form, without
// dialog flags (the mail editor's browser host then offers its own
// Print/Preview menu).
constexpr int32_t kReviewEditable = 1;
constexpr uint32_t kReviewFlags = 0;

} // namespace kv::ui::win32
