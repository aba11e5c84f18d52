// The report of an internal fault for a person at the host: a task-modal error box naming the
// fault, the host's executable and where in the library it happened.
#pragma once

#include "common/hy_exception.h"

namespace hyd {

// Shows the box and returns when it closes (at once where there is no display). A quit message
// pending on the thread is taken out first, so the box is not dismissed by it, and posted again
// afterwards with its exit code.
void report_exception(const CHyException& fault);

} // namespace hyd
